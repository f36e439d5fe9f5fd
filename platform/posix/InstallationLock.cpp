#include "platform/InstallationLock.h"

#include "platform/FileIO.h"
#include "platform/SystemError.h"

#include <QFile>
#include <QFileInfo>

#include <cerrno>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

const QString InstallationLock::Busy = QStringLiteral("another update is running on this installation");

namespace {
QString named(const QString& path, const char* what)
{
    return QFileInfo(path).fileName() + QLatin1String(what);
}
}  // namespace

Status InstallationLock::acquire()
{
    const QByteArray path = QFile::encodeName(path_);
    // A few tries: another run may remove the file between our open and our lock.
    for (int attempt = 0; attempt < 5; ++attempt) {
        constexpr int flags = O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC;
        int fd = ::open(path.constData(), O_RDWR | O_CREAT | flags, 0644);
        if (fd < 0 && (errno == EACCES || errno == EPERM || errno == EROFS)) {
            const int denied = errno;
            fd = ::open(path.constData(), O_RDONLY | flags);  // a lock file of another user
            if (fd < 0 && errno == ENOENT)
                errno = denied;  // there is none, and none can be made
        }
        if (fd < 0) {
            if (errno == ELOOP) {
                // A link is never a lock of ours: remove it (its target stays untouched).
                if (::unlink(path.constData()) == 0)
                    continue;
                return Status::failure(named(path_, " is a symbolic link that cannot be removed"));
            }
            if (errno == EISDIR)
                return Status::failure(named(path_, " is a folder, not a lock file"));
            return Status::failure(systemReason(errno));
        }
        struct stat held {}, named_ {};
        if (::fstat(fd, &held) != 0 || !S_ISREG(held.st_mode)) {
            ::close(fd);
            return Status::failure(named(path_, S_ISDIR(held.st_mode) ? " is a folder, not a lock file"
                                                                       : " is not a regular file"));
        }
        if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
            const int error = errno;
            ::close(fd);
            return Status::failure(error == EWOULDBLOCK ? Busy : systemReason(error));
        }
        // Still the file at that name (the run that held it may have removed it meanwhile)?
        if (::stat(path.constData(), &named_) != 0 || named_.st_ino != held.st_ino || named_.st_dev != held.st_dev) {
            ::close(fd);
            continue;
        }
        fd_ = fd;
        const QByteArray pid = QByteArray::number(qint64(::getpid())) + '\n';
        if (::ftruncate(fd_, 0) == 0)
            platform::writeAll(fd_, pid);
        return {};
    }
    return Status::failure(Busy);
}

InstallationLock::~InstallationLock()
{
    if (fd_ < 0)
        return;
    ::unlink(QFile::encodeName(path_).constData());
    ::close(fd_);
}
