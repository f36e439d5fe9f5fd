#include "release/FileCopy.h"

#include "common/PublishError.h"
#include "trust/Sha256.h"

#include <QFile>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <system_error>

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
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

// Empties the open folder fd (closed here); false with errno set at the first failure.
bool emptyFolder(int fd)
{
    DIR* folder = ::fdopendir(fd);
    if (!folder) {
        ::close(fd);
        return false;
    }
    bool ok = true;
    errno = 0;
    while (const dirent* entry = ::readdir(folder)) {
        const char* name = entry->d_name;
        if (std::strcmp(name, ".") == 0 || std::strcmp(name, "..") == 0)
            continue;
        bool isFolder = entry->d_type == DT_DIR;
        if (entry->d_type == DT_UNKNOWN) {
            struct stat status {};
            if (::fstatat(fd, name, &status, AT_SYMLINK_NOFOLLOW) != 0) {
                ok = false;
                break;
            }
            isFolder = S_ISDIR(status.st_mode);
        }
        if (isFolder) {
            const int inner = ::openat(fd, name, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
            if (inner < 0 || !emptyFolder(inner) || ::unlinkat(fd, name, AT_REMOVEDIR) != 0) {
                ok = false;
                break;
            }
        } else if (::unlinkat(fd, name, 0) != 0) {
            ok = false;
            break;
        }
        errno = 0;
    }
    if (ok && errno != 0)
        ok = false;  // readdir failed
    const int saved = errno;
    ::closedir(folder);
    errno = saved;
    return ok;
}

}  // namespace

QString errnoReason() { return QString::fromLocal8Bit(std::strerror(errno)); }

QByteArray copyHashed(const QString& source, const QString& target, qint64& size)
{
    Fd in{::open(native(source).constData(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK)};
    if (in.fd < 0)
        throw PublishError{source, errnoReason()};
    struct stat status {};
    if (::fstat(in.fd, &status) != 0)
        throw PublishError{source, errnoReason()};
    if (!S_ISREG(status.st_mode))
        throw PublishError{source, QStringLiteral("no longer a regular file")};
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

void removeTree(const QString& path)
{
    const QByteArray name = native(path);
    struct stat status {};
    bool ok = true;
    if (::lstat(name.constData(), &status) != 0) {
        ok = errno == ENOENT;
    } else if (S_ISDIR(status.st_mode)) {
        const int fd = ::open(name.constData(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
        ok = fd >= 0 && emptyFolder(fd) && ::rmdir(name.constData()) == 0;
    } else {
        ok = ::unlink(name.constData()) == 0;
    }
    if (!ok)
        throw PublishError{path, QStringLiteral("cannot remove: ") + errnoReason()};
}

void syncFileSystem(const QString& path)
{
    Fd folder{::open(native(path).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC)};
    if (folder.fd < 0 || ::syncfs(folder.fd) != 0)
        throw PublishError{path, errnoReason()};
}
