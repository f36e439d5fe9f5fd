#include "platform/FileMode.h"

#include "platform/RegularFile.h"
#include "platform/SystemError.h"

#include <QFile>

#include <sys/stat.h>

namespace platform {

namespace {
std::optional<mode_t> modeOf(int fd)
{
    struct stat status {};
    if (::fstat(fd, &status) != 0)
        return std::nullopt;
    return status.st_mode & 07777;
}
}  // namespace

// Asked of every listed file on every run: one lstat, no open.
std::optional<bool> isExecutable(const QString& path)
{
    struct stat status {};
    if (::lstat(QFile::encodeName(path).constData(), &status) != 0 || !S_ISREG(status.st_mode))
        return std::nullopt;
    return (status.st_mode & S_IXUSR) != 0;
}

Status setExecutable(const QString& path, bool executable)
{
    const RegularFile file = RegularFile::open(path);
    if (!file)
        return Status::failure(file.reason());
    const std::optional<mode_t> mode = modeOf(file.fd());
    if (!mode)
        return Status::failure(systemReason(errno));
    const mode_t wanted = executable ? *mode | ((*mode & 0444) >> 2) : *mode & ~mode_t(0111);
    if (wanted != *mode && ::fchmod(file.fd(), wanted) != 0)
        return Status::failure(systemReason(errno));
    return {};
}

}  // namespace platform
