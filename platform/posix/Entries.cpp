#include "platform/Entries.h"

#include "platform/SystemError.h"

#include <QFile>

#include <cerrno>
#include <cstring>

#include <dirent.h>
#include <fcntl.h>
#include <stdio.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace platform {

namespace {

QByteArray native(const QString& path) { return QFile::encodeName(path); }

Status failed() { return Status::failure(systemReason(errno)); }

bool emptyFolder(int fd);

// Removes the entry name of the open folder fd, a folder with all it holds.
bool removeAt(int fd, const char* name, unsigned char type)
{
    bool isFolder = type == DT_DIR;
    if (type == DT_UNKNOWN) {
        struct stat status {};
        if (::fstatat(fd, name, &status, AT_SYMLINK_NOFOLLOW) != 0)
            return false;
        isFolder = S_ISDIR(status.st_mode);
    }
    if (!isFolder)
        return ::unlinkat(fd, name, 0) == 0;
    const int inner = ::openat(fd, name, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    return inner >= 0 && emptyFolder(inner) && ::unlinkat(fd, name, AT_REMOVEDIR) == 0;
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
        if (std::strcmp(entry->d_name, ".") != 0 && std::strcmp(entry->d_name, "..") != 0
            && !removeAt(fd, entry->d_name, entry->d_type)) {
            ok = false;
            break;
        }
        errno = 0;
    }
    ok = ok && errno == 0;  // readdir failed otherwise
    const int saved = errno;
    ::closedir(folder);
    errno = saved;
    return ok;
}

}  // namespace

Result<EntryKind> entryKind(const QString& path)
{
    struct stat status {};
    if (::lstat(native(path).constData(), &status) != 0)
        return errno == ENOENT ? Result<EntryKind>(EntryKind::Missing) : Result<EntryKind>::failure(systemReason(errno));
    if (S_ISDIR(status.st_mode))
        return EntryKind::Folder;
    return S_ISLNK(status.st_mode) ? EntryKind::Link : EntryKind::Other;
}

Result<QString> linkTarget(const QString& path)
{
    QByteArray target(4096, Qt::Uninitialized);
    const ssize_t n = ::readlink(native(path).constData(), target.data(), size_t(target.size()));
    if (n < 0 || n == target.size())
        return Result<QString>::failure(n < 0 ? systemReason(errno) : QStringLiteral("link target too long"));
    return QFile::decodeName(target.left(n));
}

Status makeFolder(const QString& path)
{
    return ::mkdir(native(path).constData(), 0777) == 0 ? Status() : failed();
}

Status renameEntry(const QString& from, const QString& to)
{
    return ::rename(native(from).constData(), native(to).constData()) == 0 ? Status() : failed();
}

Result<bool> exchangeEntries(const QString& a, const QString& b)
{
    if (::renameat2(AT_FDCWD, native(a).constData(), AT_FDCWD, native(b).constData(), RENAME_EXCHANGE) == 0)
        return true;
    if (errno == EINVAL || errno == ENOSYS || errno == ENOTSUP)
        return false;
    return Result<bool>::failure(systemReason(errno));
}

Status makeSymbolicLink(const QString& target, const QString& link)
{
    return ::symlink(native(target).constData(), native(link).constData()) == 0 ? Status() : failed();
}

Result<bool> hardLink(const QString& source, const QString& target)
{
    if (::link(native(source).constData(), native(target).constData()) == 0)
        return true;
    if (errno == EXDEV || errno == EPERM || errno == EMLINK || errno == ENOTSUP || errno == ENOSYS)
        return false;
    return Result<bool>::failure(systemReason(errno));
}

Status removeTree(const QString& path)
{
    const QByteArray name = native(path);
    struct stat status {};
    if (::lstat(name.constData(), &status) != 0)
        return errno == ENOENT ? Status() : failed();
    if (!S_ISDIR(status.st_mode))
        return ::unlink(name.constData()) == 0 ? Status() : failed();
    const int fd = ::open(name.constData(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    return fd >= 0 && emptyFolder(fd) && ::rmdir(name.constData()) == 0 ? Status() : failed();
}

Result<bool> tryLockFile(NativeFile file)
{
    if (::flock(file, LOCK_EX | LOCK_NB) == 0)
        return true;
    return errno == EWOULDBLOCK ? Result<bool>(false) : Result<bool>::failure(systemReason(errno));
}

}  // namespace platform
