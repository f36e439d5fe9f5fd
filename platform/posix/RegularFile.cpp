#include "platform/RegularFile.h"

#include "platform/SystemError.h"
#include "platform/posix/StatIdentity.h"

#include <QFile>

#include <algorithm>
#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>

namespace {
int openFlags(RegularFile::Access access, Links links)
{
    int flags = O_NONBLOCK | O_CLOEXEC | (links == Links::Refuse ? O_NOFOLLOW : 0);
    switch (access) {
    case RegularFile::Access::Read:
        return flags | O_RDONLY;
    case RegularFile::Access::ReadWrite:
        return flags | O_RDWR;
    case RegularFile::Access::ReadWriteCreate:
        return flags | O_RDWR | O_CREAT;
    case RegularFile::Access::ReadWriteEmpty:
        return flags | O_RDWR | O_CREAT | O_TRUNC;
    case RegularFile::Access::CreateNew:
        return flags | O_WRONLY | O_CREAT | O_EXCL;
    }
    return flags;
}

RegularFile::Failure failureOf(int error)
{
    switch (error) {
    case ENOENT:
        return RegularFile::Failure::Missing;
    case ELOOP:
        return RegularFile::Failure::Link;
    case EISDIR:
        return RegularFile::Failure::Folder;
    case ENXIO:  // a socket, or a pipe with no writer opened for writing
        return RegularFile::Failure::NotRegular;
    default:
        return RegularFile::Failure::Other;
    }
}
}  // namespace

RegularFile RegularFile::open(const QString& path, Access access, Links links)
{
    RegularFile file;
    file.fd_ = FileDescriptor(::open(QFile::encodeName(path).constData(), openFlags(access, links), 0644));
    if (!file.fd_.isOpen()) {
        file.errno_ = errno;
        file.failure_ = failureOf(errno);
        return file;
    }
    struct stat status {};
    if (::fstat(file.fd(), &status) != 0) {
        file.errno_ = errno;
        file.failure_ = Failure::Other;
    } else if (S_ISDIR(status.st_mode)) {
        file.failure_ = Failure::Folder;
    } else if (!S_ISREG(status.st_mode)) {
        file.failure_ = Failure::NotRegular;
    }
    if (file.failure_ != Failure::None) {
        file.fd_.close();
        return file;
    }
    file.identity_ = identityFromStat(status);
    ::fcntl(file.fd(), F_SETFL, ::fcntl(file.fd(), F_GETFL) & ~O_NONBLOCK);
    return file;
}

QString RegularFile::reason() const
{
    switch (failure_) {
    case Failure::None:
        return {};
    case Failure::Link:
        return QStringLiteral("a link, not a file");
    case Failure::Folder:
        return QStringLiteral("a folder, not a file");
    case Failure::NotRegular:
        return QStringLiteral("not a regular file");
    case Failure::Missing:
    case Failure::Other:
        break;
    }
    return systemReason(errno_);
}

Result<QByteArray> RegularFile::readWhole(qint64 limit)
{
    // One byte past the limit shows a file that is too large, whatever its size claimed; a file
    // that grows while it is read is read on in steps, never past that byte.
    QByteArray bytes(qsizetype(std::min(size(), limit) + 1), Qt::Uninitialized);
    qint64 got = 0;
    for (;;) {
        const qint64 n = platform::readAllAt(fd(), bytes.data() + got, bytes.size() - got, got);
        if (n < 0)
            return Result<QByteArray>::failure(systemReason(errno));
        got += n;
        if (got < bytes.size() || got > limit)
            break;
        bytes.resize(qsizetype(std::min<qint64>(limit + 1, bytes.size() * 2)));
    }
    if (got > limit)
        return Result<QByteArray>::failure(QStringLiteral("larger than %1 bytes").arg(limit));
    bytes.truncate(qsizetype(got));
    return bytes;
}

namespace platform {

Result<QByteArray> readRegularFile(const QString& path, qint64 limit, Links links)
{
    RegularFile file = RegularFile::open(path, RegularFile::Access::Read, links);
    if (!file)
        return Result<QByteArray>::failure(file.reason());
    return file.readWhole(limit);
}

}  // namespace platform
