#include "FileCopy.h"

#include "PublishError.h"
#include "trust/Sha256.h"

#include <QFile>
#include <QFileInfo>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <system_error>

#include <fcntl.h>
#include <unistd.h>

namespace {

// A descriptor closed with the object.
struct Fd {
    int fd = -1;
    ~Fd()
    {
        if (fd >= 0)
            ::close(fd);
    }
};

QByteArray native(const QString& path) { return QFile::encodeName(path); }

int openNew(const QString& path)
{
    return ::open(native(path).constData(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
}

void writeAll(int fd, const char* data, qint64 size, const QString& path)
{
    while (size > 0) {
        const ssize_t n = ::write(fd, data, size_t(size));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            throw PublishError{path, n < 0 ? errnoReason() : QStringLiteral("nothing written")};
        data += n;
        size -= n;
    }
}

void closeChecked(Fd& out, const QString& path)
{
    // A file system may report a full disk only when the file is closed.
    const int fd = out.fd;
    out.fd = -1;
    if (::close(fd) != 0)
        throw PublishError{path, errnoReason()};
}

}  // namespace

QString errnoReason() { return QString::fromLocal8Bit(std::strerror(errno)); }

QByteArray copyHashed(const QString& source, const QString& target, qint64& size)
{
    Fd in{::open(native(source).constData(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW)};
    if (in.fd < 0)
        throw PublishError{source, errnoReason()};
    makeFolders(QFileInfo(target).path());
    Fd out{openNew(target)};
    if (out.fd < 0)
        throw PublishError{target, errnoReason()};
    QByteArray block(1024 * 1024, Qt::Uninitialized);
    Sha256 hasher;
    size = 0;
    for (;;) {
        const ssize_t n = ::read(in.fd, block.data(), size_t(block.size()));
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            throw PublishError{source, errnoReason()};
        if (n == 0)
            break;
        writeAll(out.fd, block.constData(), n, target);
        hasher.update(block.constData(), size_t(n));
        size += n;
    }
    closeChecked(out, target);
    return hasher.final();
}

void linkOrCopy(const QByteArray& source, const QByteArray& target)
{
    const std::filesystem::path to = target.toStdString();
    std::error_code error;
    std::filesystem::create_directories(to.parent_path(), error);
    if (error)
        throw PublishError{QByteArray::fromStdString(to.parent_path().native()), QString::fromLocal8Bit(error.message())};
    if (::link(source.constData(), target.constData()) == 0)
        return;
    if (errno != EXDEV && errno != EPERM && errno != EMLINK && errno != ENOTSUP && errno != ENOSYS)
        throw PublishError{target, errnoReason()};
    std::filesystem::copy(source.toStdString(), to, std::filesystem::copy_options::copy_symlinks, error);
    if (error)
        throw PublishError{target, QString::fromLocal8Bit(error.message())};
}

void writeNewFile(const QString& path, const QByteArray& bytes)
{
    Fd out{openNew(path)};
    if (out.fd < 0)
        throw PublishError{path, errnoReason()};
    writeAll(out.fd, bytes.constData(), bytes.size(), path);
    closeChecked(out, path);
}

void makeFolders(const QString& path)
{
    std::error_code error;
    std::filesystem::create_directories(native(path).toStdString(), error);
    if (error)
        throw PublishError{path, QString::fromLocal8Bit(error.message())};
}

void syncFileSystem(const QString& path)
{
    Fd folder{::open(native(path).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC)};
    if (folder.fd < 0 || ::syncfs(folder.fd) != 0)
        throw PublishError{path, errnoReason()};
}
