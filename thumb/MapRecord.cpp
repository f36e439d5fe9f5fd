#include "MapRecord.h"

#include "Exception.h"
#include "FileName.h"

#include <QtEndian>

#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

qint32 MapRecord::readInt(int offset) const
{
    return qFromLittleEndian<qint32>(bytes_.data() + offset);
}

void MapRecord::writeInt(int offset, qint32 value)
{
    qToLittleEndian<qint32>(value, bytes_.data() + offset);
}

namespace {

// The error number for a failed open, in the numbering the messages are keyed by. POSIX says
// ENOENT both for a missing file and for a missing folder on the way to it; the two are told
// apart by looking at the folder. A folder opened as a map is refused access, as on Windows.
int openErrorCode(const QByteArray& path, int errnum)
{
    if (errnum == ENOENT) {
        const qsizetype slash = path.lastIndexOf('/');
        const QByteArray folder = slash < 0 ? QByteArray(".") : slash == 0 ? QByteArray("/") : path.left(slash);
        struct stat status {};
        if (::stat(folder.constData(), &status) != 0 || !S_ISDIR(status.st_mode))
            return 3;
    }
    if (errnum == EISDIR)
        return 5;
    return ioErrorFromErrno(errnum);
}

class FileCloser {
public:
    explicit FileCloser(int fd) : fd_(fd) {}
    ~FileCloser() { ::close(fd_); }
    FileCloser(const FileCloser&) = delete;
    FileCloser& operator=(const FileCloser&) = delete;

private:
    int fd_;
};

} // namespace

void readMapFile(const QString& fileName, MapRecord& record)
{
    const QByteArray path = fileNameBytes(fileName);
    // Non-blocking, so that a pipe without a writer cannot hold the open; only regular files
    // are read, so the flag changes nothing for the reads.
    int fd;
    do
        fd = ::open(path.constData(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    while (fd < 0 && errno == EINTR);
    if (fd < 0)
        throw EInOutError(openErrorCode(path, errno));
    FileCloser closer(fd);
    struct stat status {};
    if (::fstat(fd, &status) != 0)
        throw EInOutError(ioErrorFromErrno(errno));
    if (S_ISDIR(status.st_mode))
        throw EInOutError(5);
    if (!S_ISREG(status.st_mode))
        throw ENotRegularFile();

    // Read into a spare record so that a failed read leaves the caller's record as it was.
    MapRecord fresh;
    auto* buffer = fresh.bytes().data();
    size_t have = 0;
    while (have < size_t(MapRecord::Size)) {
        const ssize_t got = ::read(fd, buffer + have, size_t(MapRecord::Size) - have);
        if (got < 0) {
            if (errno == EINTR)
                continue;
            throw EInOutError(errno == EISDIR ? 5 : ioErrorFromErrno(errno));
        }
        if (got == 0)
            throw EInOutError(100);
        have += size_t(got);
    }
    record = fresh;
}
