#include "trust/UpdateStamp.h"

#include "site/SiteFiles.h"

#include "AtomicFile.h"
#include "Digits.h"

#include <QDir>
#include <QFile>

#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

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
    const QByteArray path = QFile::encodeName(updateStampPath(programFolder));
    // Never follow a link nor block on a pipe: only a regular file of our own is a stamp.
    const int fd = ::open(path.constData(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        if (errno == ENOENT)
            return std::optional<qint64>();
        return Stamp::failure(QStringLiteral("%1: %2").arg(InstallationFile::Stamp,
                                                          errno == ELOOP ? QStringLiteral("a link, not a stamp")
                                                                         : systemReason(errno)));
    }
    struct stat status {};
    QByteArray text(MaxStampSize + 1, '\0');
    ssize_t got = -1;
    if (::fstat(fd, &status) == 0 && S_ISREG(status.st_mode))
        got = ::read(fd, text.data(), size_t(text.size()));
    const int readError = errno;
    ::close(fd);
    if (!S_ISREG(status.st_mode))
        return Stamp::failure(QStringLiteral("%1: not a regular file").arg(InstallationFile::Stamp));
    if (got < 0)
        return Stamp::failure(QStringLiteral("%1: %2").arg(InstallationFile::Stamp, systemReason(readError)));
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
