#include "release/FileCopy.h"

#include "common/PublishError.h"
#include "platform/FileDescriptor.h"
#include "platform/FileIO.h"
#include "platform/RegularFile.h"
#include "platform/SystemError.h"
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

QByteArray native(const QString& path) { return QFile::encodeName(path); }

FileDescriptor openNew(const QString& path)
{
    return FileDescriptor(::open(native(path).constData(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666));
}

void writeAll(FileDescriptor& out, const char* data, qint64 size, const QString& path)
{
    if (!platform::writeAll(out.fd(), data, size))
        throw PublishError{path, systemReason(errno)};
}

void closeChecked(FileDescriptor& out, const QString& path)
{
    // A file system may report a full disk only when the file is closed.
    if (!out.close())
        throw PublishError{path, systemReason(errno)};
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

QByteArray copyHashed(const QString& source, const FileIdentity& scanned, const QString& target, qint64& size)
{
    RegularFile in = RegularFile::open(source, RegularFile::Access::Read, Links::Refuse);
    if (!in)
        throw PublishError{source, in.failure() == RegularFile::Failure::Other || in.failure() == RegularFile::Failure::Missing
                                       ? in.reason()
                                       : QStringLiteral("no longer a regular file")};
    if (in.identity().device != scanned.device || in.identity().inode != scanned.inode)
        throw PublishError{source, QStringLiteral("not the file the release folder held when it was read (a folder on "
                                                  "its path replaced, by a link say); nothing published")};
    FileDescriptor out = openNew(target);
    if (!out.isOpen())
        throw PublishError{target, systemReason(errno)};
    constexpr qint64 BlockSize = 1024 * 1024;
    QByteArray block(BlockSize, Qt::Uninitialized);
    Sha256 hasher;
    size = 0;
    for (qint64 n = BlockSize; n == BlockSize;) {
        n = platform::readAll(in.fd(), block.data(), BlockSize);
        if (n < 0)
            throw PublishError{source, systemReason(errno)};
        writeAll(out, block.constData(), n, target);
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
        throw PublishError{target, systemReason(errno)};
    std::filesystem::copy(source.toStdString(), to, std::filesystem::copy_options::copy_symlinks, error);
    if (error)
        throw PublishError{target, QString::fromLocal8Bit(error.message())};
}

void writeNewFile(const QString& path, const QByteArray& bytes)
{
    FileDescriptor out = openNew(path);
    if (!out.isOpen())
        throw PublishError{path, systemReason(errno)};
    writeAll(out, bytes.constData(), bytes.size(), path);
    closeChecked(out, path);
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
        throw PublishError{path, QStringLiteral("cannot remove: ") + systemReason(errno)};
}
