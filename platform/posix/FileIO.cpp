#include "platform/FileIO.h"

#include "platform/SystemError.h"

#include <cerrno>
#include <fcntl.h>
#include <unistd.h>

namespace platform {

qint64 readAll(NativeFile file, char* into, qint64 size)
{
    qint64 done = 0;
    while (done < size) {
        const ssize_t n = ::read(file, into + done, size_t(size - done));
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            return -1;
        if (n == 0)
            break;
        done += n;
    }
    return done;
}

qint64 readAllAt(NativeFile file, char* into, qint64 size, qint64 offset)
{
    qint64 done = 0;
    while (done < size) {
        const ssize_t n = ::pread(file, into + done, size_t(size - done), off_t(offset + done));
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            return -1;
        if (n == 0)
            break;
        done += n;
    }
    return done;
}

bool writeAll(NativeFile file, const char* data, qint64 size)
{
    while (size > 0) {
        const ssize_t n = ::write(file, data, size_t(size));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        data += n;
        size -= n;
    }
    return true;
}

Status syncFile(NativeFile file)
{
    if (::fsync(file) != 0)
        return Status::failure(systemReason(errno));
    return {};
}

Status syncFileData(NativeFile file)
{
    if (::fdatasync(file) != 0)
        return Status::failure(systemReason(errno));
    return {};
}

void startWriteBack(NativeFile file)
{
#ifdef SYNC_FILE_RANGE_WRITE
    ::sync_file_range(file, 0, 0, SYNC_FILE_RANGE_WRITE);
#else
    (void)file;
#endif
}

}  // namespace platform
