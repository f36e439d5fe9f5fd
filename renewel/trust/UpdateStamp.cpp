#include "trust/UpdateStamp.h"

#include "site/SiteFiles.h"

#include "AtomicFile.h"
#include "Digits.h"
#include "platform/RegularFile.h"

#include <QDir>

#include <cerrno>

namespace {
// Larger files are not a stamp; reading stops there.
constexpr qint64 MaxStampSize = 64;
using Stamp = Result<std::optional<qint64>>;
}  // namespace

QString updateStampPath(const QString& programFolder)
{
    return QDir(programFolder).filePath(InstallationFile::Stamp);
}

Stamp readUpdateStamp(const QString& programFolder)
{
    // Never follow a link nor block on a pipe: only a regular file of our own is a stamp.
    const RegularFile file = RegularFile::open(updateStampPath(programFolder));
    switch (file.failure()) {
    case RegularFile::Failure::None:
        break;
    case RegularFile::Failure::Missing:
        return std::optional<qint64>();
    case RegularFile::Failure::Link:
        return Stamp::failure(QStringLiteral("%1: a link, not a stamp").arg(InstallationFile::Stamp));
    case RegularFile::Failure::Folder:
    case RegularFile::Failure::NotRegular:
        return Stamp::failure(QStringLiteral("%1: not a regular file").arg(InstallationFile::Stamp));
    case RegularFile::Failure::Other:
        return Stamp::failure(QStringLiteral("%1: %2").arg(InstallationFile::Stamp, file.reason()));
    }
    QByteArray text(MaxStampSize + 1, '\0');
    const qint64 got = platform::readAll(file.fd(), text.data(), text.size());
    if (got < 0)
        return Stamp::failure(QStringLiteral("%1: %2").arg(InstallationFile::Stamp, systemReason(errno)));
    text.truncate(got);
    if (text.endsWith('\n'))
        text.chop(text.endsWith("\r\n") ? 2 : 1);
    const std::optional<qint64> value = parseDigits(text);
    if (!value)
        return Stamp::failure(QStringLiteral("%1: damaged (not one decimal line)").arg(InstallationFile::Stamp));
    return std::optional<qint64>(*value);
}

Status writeUpdateStamp(const QString& programFolder, qint64 timestamp)
{
    return replaceFile(updateStampPath(programFolder), QByteArray::number(timestamp) + '\n');
}
