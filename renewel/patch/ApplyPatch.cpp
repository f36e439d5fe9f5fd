#include "patch/ApplyPatch.h"

#include "patch/MappedFile.h"
#include "patch/PatchApplier.h"

#include <QBuffer>
#include <QSaveFile>

#include <new>

namespace {

Status writeNew(QByteArrayView old, QByteArrayView patch, QIODevice& out)
{
    try {
        return PatchApplier(old, patch).writeTo(out);
    } catch (const std::bad_alloc&) {
        return Status::failure(QStringLiteral("out of memory"));
    }
}

}  // namespace

Result<QByteArray> applyPatch(QByteArrayView old, QByteArrayView patch)
{
    QByteArray made;
    QBuffer out(&made);
    out.open(QIODevice::WriteOnly);
    if (Status s = writeNew(old, patch, out); !s)
        return Result<QByteArray>::failure(s.error());
    out.close();
    return made;
}

Status applyPatchFile(const QString& oldPath, const QString& patchPath, const QString& outputPath)
{
    Result<std::unique_ptr<MappedFile>> old = MappedFile::open(oldPath);
    if (!old)
        return Status::failure(old.error());
    Result<std::unique_ptr<MappedFile>> patch = MappedFile::open(patchPath);
    if (!patch)
        return Status::failure(patch.error());
    QSaveFile out(outputPath);
    if (!out.open(QIODevice::WriteOnly))
        return Status::failure(QStringLiteral("%1: %2").arg(outputPath, out.errorString()));
    if (Status s = writeNew((*old)->bytes(), (*patch)->bytes(), out); !s) {
        out.cancelWriting();
        return s;
    }
    if (!out.commit())
        return Status::failure(QStringLiteral("%1: %2").arg(outputPath, out.errorString()));
    return {};
}
