#include "platform/FileIO.h"

#include "platform/SystemError.h"

#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace platform {

namespace {
// Reads with readAt(into, count, done) until size bytes are in or the file ends, resuming an
// interrupted call; the count read, or -1 when a read fails.
template <typename ReadAt>
qint64 readUntilFull(char* into, qint64 size, ReadAt readAt)
{
    qint64 done = 0;
    while (done < size) {
        const ssize_t n = readAt(into + done, size_t(size - done), done);
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
}  // namespace

qint64 readAll(NativeFile file, char* into, qint64 size)
{
    return readUntilFull(into, size, [file](char* at, size_t count, qint64) { return ::read(file, at, count); });
}

qint64 readAllAt(NativeFile file, char* into, qint64 size, qint64 offset)
{
    return readUntilFull(into, size, [file, offset](char* at, size_t count, qint64 done) {
        return ::pread(file, at, count, off_t(offset + done));
    });
}

namespace {
// Calls writeAt until every byte is written, past interrupted calls; false when a write fails.
template <typename WriteAt>
bool writeUntilDone(const char* data, qint64 size, WriteAt writeAt)
{
    qint64 done = 0;
    while (done < size) {
        const ssize_t n = writeAt(data + done, size_t(size - done), done);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        done += n;
    }
    return true;
}
}  // namespace

bool writeAll(NativeFile file, const char* data, qint64 size)
{
    return writeUntilDone(data, size, [file](const char* at, size_t count, qint64) { return ::write(file, at, count); });
}

bool writeAllAt(NativeFile file, const char* data, qint64 size, qint64 offset)
{
    return writeUntilDone(data, size, [file, offset](const char* at, size_t count, qint64 done) {
        return ::pwrite(file, at, count, off_t(offset + done));
    });
}

Status resizeFile(NativeFile file, qint64 size)
{
    while (::ftruncate(file, off_t(size)) != 0) {
        if (errno != EINTR)
            return Status::failure(systemReason(errno));
    }
    return {};
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

qint64 fileSize(NativeFile file)
{
    struct stat status {};
    return ::fstat(file, &status) == 0 ? qint64(status.st_size) : -1;
}

}  // namespace platform
