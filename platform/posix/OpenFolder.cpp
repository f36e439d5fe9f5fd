#include "platform/OpenFolder.h"

#include "platform/SystemError.h"
#include "platform/posix/StatIdentity.h"

#include <QFile>

#include <cerrno>
#include <cstring>

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

OpenFolder::Entry::Kind kindOf(const struct stat& status)
{
    if (S_ISDIR(status.st_mode))
        return OpenFolder::Entry::Kind::Folder;
    if (S_ISREG(status.st_mode))
        return OpenFolder::Entry::Kind::File;
    if (S_ISLNK(status.st_mode))
        return OpenFolder::Entry::Kind::Link;
    return OpenFolder::Entry::Kind::Other;
}

}  // namespace

OpenFolder OpenFolder::opened(NativeFile fd)
{
    OpenFolder folder;
    folder.fd_ = FileDescriptor(fd);
    if (fd < 0)
        folder.reason_ = errno == ELOOP || errno == ENOTDIR ? QStringLiteral("not a folder (a link?)") : systemReason(errno);
    return folder;
}

OpenFolder OpenFolder::open(const QString& path)
{
    return opened(::open(QFile::encodeName(path).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
}

OpenFolder OpenFolder::inner(const QByteArray& name) const
{
    return opened(::openat(fd_.fd(), name.constData(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
}

Result<QList<OpenFolder::Entry>> OpenFolder::entries() const
{
    // readdir closes what it is given: it reads through its own descriptor of the same folder.
    const int copy = ::dup(fd_.fd());
    DIR* folder = copy >= 0 ? ::fdopendir(copy) : nullptr;
    if (!folder) {
        const int failure = errno;
        if (copy >= 0)
            ::close(copy);
        return Result<QList<Entry>>::failure(systemReason(failure));
    }
    ::rewinddir(folder);
    QList<Entry> entries;
    errno = 0;
    int failure = 0;
    while (const dirent* entry = ::readdir(folder)) {
        if (std::strcmp(entry->d_name, ".") == 0 || std::strcmp(entry->d_name, "..") == 0)
            continue;
        struct stat status {};
        if (::fstatat(fd_.fd(), entry->d_name, &status, AT_SYMLINK_NOFOLLOW) != 0) {
            failure = errno;
            break;
        }
        entries.append({QByteArray(entry->d_name), kindOf(status), identityFromStat(status)});
        errno = 0;
    }
    if (failure == 0)
        failure = errno;  // readdir's own failure
    ::closedir(folder);
    if (failure != 0)
        return Result<QList<Entry>>::failure(systemReason(failure));
    return entries;
}
