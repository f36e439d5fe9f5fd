#include "net/DownloadFile.h"

#include "Result.h"

#include <QFile>

#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {
constexpr int NoFollow = O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC;

// Removes what is at path unless it is a regular file (or nothing).
void removeIfNotRegular(const QByteArray& path)
{
    struct stat status {};
    if (::lstat(path.constData(), &status) == 0 && !S_ISREG(status.st_mode) && !S_ISDIR(status.st_mode))
        ::unlink(path.constData());
}

// An open descriptor on a regular file, or -1 (closed) otherwise.
int regularOnly(int fd)
{
    struct stat status {};
    if (fd >= 0 && (::fstat(fd, &status) != 0 || !S_ISREG(status.st_mode))) {
        ::close(fd);
        errno = EINVAL;
        return -1;
    }
    return fd;
}
}  // namespace

int OpenDownloadFile(const QString& path, bool keep, QString* why)
{
    const QByteArray name = QFile::encodeName(path);
    removeIfNotRegular(name);
    int fd = ::open(name.constData(), O_RDWR | (keep ? 0 : O_TRUNC) | O_CREAT | NoFollow, 0644);
    if (fd < 0 && errno == ELOOP) {  // a link put there meanwhile
        ::unlink(name.constData());
        fd = ::open(name.constData(), O_RDWR | (keep ? 0 : O_TRUNC) | O_CREAT | NoFollow, 0644);
    }
    const int error = errno;
    fd = regularOnly(fd);
    if (fd < 0 && why)
        *why = errno == EINVAL ? QStringLiteral("not a regular file") : systemReason(error);
    if (fd >= 0)
        ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK);
    return fd;
}

qint64 DownloadFileSize(const QString& path)
{
    struct stat status {};
    if (::lstat(QFile::encodeName(path).constData(), &status) != 0 || !S_ISREG(status.st_mode))
        return -1;
    return qint64(status.st_size);
}

QByteArray ReadDownloadFile(const QString& path, qint64 maxSize)
{
    const int fd = regularOnly(::open(QFile::encodeName(path).constData(), O_RDONLY | NoFollow));
    if (fd < 0)
        return {};
    QByteArray bytes(maxSize, Qt::Uninitialized);
    const ssize_t got = ::read(fd, bytes.data(), size_t(maxSize));
    ::close(fd);
    bytes.truncate(got < 0 ? 0 : got);
    return bytes;
}

bool WriteDownloadFile(const QString& path, const QByteArray& bytes)
{
    const QByteArray name = QFile::encodeName(path);
    ::unlink(name.constData());
    const int fd = ::open(name.constData(), O_WRONLY | O_CREAT | O_EXCL | NoFollow, 0644);
    if (fd < 0)
        return false;
    const bool ok = ::write(fd, bytes.constData(), size_t(bytes.size())) == bytes.size();
    ::close(fd);
    return ok;
}
