#include "patch/MappedFile.h"

#include <QFileInfo>

Result<std::unique_ptr<MappedFile>> MappedFile::open(const QString& path)
{
    using R = Result<std::unique_ptr<MappedFile>>;
    const QFileInfo info(path);
    if (info.isSymLink() || (info.exists() && !info.isFile()))
        return R::failure(QStringLiteral("%1: not a regular file").arg(path));
    auto mapped = std::make_unique<MappedFile>();
    mapped->file_.setFileName(path);
    if (!mapped->file_.open(QIODevice::ReadOnly))
        return R::failure(QStringLiteral("%1: %2").arg(path, mapped->file_.errorString()));
    const qint64 size = mapped->file_.size();
    if (size > 0) {
        const uchar* at = mapped->file_.map(0, size);
        if (!at)
            return R::failure(QStringLiteral("%1: %2").arg(path, mapped->file_.errorString()));
        mapped->bytes_ = QByteArrayView(reinterpret_cast<const char*>(at), size);
    }
    return R(std::move(mapped));
}
