#include "common/RegularFile.h"

#include <QFile>

#include <cerrno>
#include <cstring>
#include <utility>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

QString reasonOf(int error) { return QString::fromLocal8Bit(std::strerror(error)); }

}  // namespace

Result<RegularFile> RegularFile::open(const QString& path)
{
    const int fd = ::open(QFile::encodeName(path).constData(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0)
        return Result<RegularFile>::failure(errno == ENOENT ? QStringLiteral("missing") : reasonOf(errno));
    RegularFile file(fd, 0);
    struct stat status {};
    if (::fstat(fd, &status) != 0)
        return Result<RegularFile>::failure(reasonOf(errno));
    if (!S_ISREG(status.st_mode))
        return Result<RegularFile>::failure(QStringLiteral("not a regular file"));
    file.size_ = qint64(status.st_size);
    return file;
}

Result<QByteArray> RegularFile::read(const QString& path, qint64 maxSize)
{
    Result<RegularFile> file = open(path);
    if (!file)
        return Result<QByteArray>::failure(file.error());
    if (file->size() > maxSize)
        return Result<QByteArray>::failure(QStringLiteral("%1 bytes, more than a file of its kind can hold").arg(file->size()));
    return file.value().readAll();
}

RegularFile::RegularFile(RegularFile&& other) noexcept
    : fd_(std::exchange(other.fd_, -1)), size_(other.size_)
{
}

RegularFile& RegularFile::operator=(RegularFile&& other) noexcept
{
    std::swap(fd_, other.fd_);
    std::swap(size_, other.size_);
    return *this;
}

RegularFile::~RegularFile()
{
    if (fd_ >= 0)
        ::close(fd_);
}

Result<QByteArray> RegularFile::readAll()
{
    QByteArray bytes(size_, Qt::Uninitialized);
    qint64 done = 0;
    while (done < size_) {
        const ssize_t n = ::pread(fd_, bytes.data() + done, size_t(size_ - done), done);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            return Result<QByteArray>::failure(reasonOf(errno));
        if (n == 0)
            break;  // cut short since it was opened
        done += n;
    }
    bytes.truncate(done);
    return bytes;
}
