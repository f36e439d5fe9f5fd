#include "platform/FileIdentity.h"

#include "platform/posix/StatIdentity.h"

#include <QFile>

#include <sys/stat.h>

FileIdentity identityFromStat(const struct stat& status)
{
    return {qint64(status.st_size), qint64(status.st_mtim.tv_sec) * 1000000000 + status.st_mtim.tv_nsec,
            qint64(status.st_ctim.tv_sec) * 1000000000 + status.st_ctim.tv_nsec, quint64(status.st_dev),
            quint64(status.st_ino)};
}

namespace platform {

std::optional<FileIdentity> identityOf(const QString& path, Links links)
{
    struct stat status {};
    const QByteArray name = QFile::encodeName(path);
    const int got = links == Links::Follow ? ::stat(name.constData(), &status) : ::lstat(name.constData(), &status);
    if (got != 0 || !S_ISREG(status.st_mode))
        return std::nullopt;
    return identityFromStat(status);
}

}  // namespace platform
