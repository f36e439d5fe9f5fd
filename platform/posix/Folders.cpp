#include "platform/Folders.h"

#include "platform/FileDescriptor.h"
#include "platform/SystemError.h"

#include <QFile>

#include <cerrno>
#include <fcntl.h>
#include <filesystem>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <system_error>
#include <unistd.h>

namespace platform {

Status makeFolders(const QString& path)
{
    std::error_code error;
    std::filesystem::create_directories(QFile::encodeName(path).toStdString(), error);
    if (error)
        return Status::failure(QString::fromLocal8Bit(error.message()));
    return {};
}

Status syncFolder(const QString& path)
{
    FileDescriptor folder(::open(QFile::encodeName(path).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (!folder.isOpen() || ::fsync(folder.fd()) != 0)
        return Status::failure(systemReason(errno));
    return {};
}

Status syncFileSystem(const QString& path)
{
    FileDescriptor folder(::open(QFile::encodeName(path).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (!folder.isOpen() || ::syncfs(folder.fd()) != 0)
        return Status::failure(systemReason(errno));
    return {};
}

Result<qint64> freeSpace(const QString& path)
{
    struct statvfs status {};
    if (::statvfs(QFile::encodeName(path).constData(), &status) != 0)
        return Result<qint64>::failure(systemReason(errno));
    return qint64(status.f_bavail) * qint64(status.f_frsize);
}

bool isSymbolicLink(const QString& path)
{
    struct stat status {};
    return ::lstat(QFile::encodeName(path).constData(), &status) == 0 && S_ISLNK(status.st_mode);
}

}  // namespace platform
