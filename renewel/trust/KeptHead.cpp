#include "trust/KeptHead.h"

#include "site/SiteFiles.h"

#include "AtomicFile.h"
#include "platform/RegularFile.h"

#include <QDir>
#include <QFile>

namespace {
// A head is well under this; anything longer is not ours.
constexpr qint64 MaxKeptSize = 8 * 1024;

QString keptPath(const QString& programFolder) { return QDir(programFolder).filePath(InstallationFile::Head); }
}  // namespace

std::optional<KeptHead> KeptHead::read(const QString& programFolder)
{
    const RegularFile file = RegularFile::open(keptPath(programFolder));
    if (file.failure() != RegularFile::Failure::None)
        return std::nullopt;
    QByteArray text(MaxKeptSize + 1, '\0');
    const qint64 got = platform::readAll(file.fd(), text.data(), text.size());
    if (got < 0 || got > MaxKeptSize)
        return std::nullopt;
    text.truncate(got);
    const qsizetype end = text.indexOf('\n');
    if (end < 0)
        return std::nullopt;
    return KeptHead{text.left(end), text.mid(end + 1)};
}

Status KeptHead::write(const QString& programFolder) const
{
    const bool oneLine = !validator.contains('\n') && !validator.contains('\r');
    return replaceFile(keptPath(programFolder), (oneLine ? validator : QByteArray()) + '\n' + file);
}

void KeptHead::forget(const QString& programFolder) { QFile::remove(keptPath(programFolder)); }
