#include "SaveFile.h"

#include "Exception.h"
#include "FileName.h"

#include <QBuffer>
#include <QDir>
#include <QImageWriter>

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

// QSaveFile would do the replacing, but it takes names as text and cannot write a name that is
// not UTF-8; the few system calls below keep the bytes.

namespace {

class Descriptor {
public:
    explicit Descriptor(int fd) : fd_(fd) {}
    ~Descriptor() { close(); }
    Descriptor(const Descriptor&) = delete;
    Descriptor& operator=(const Descriptor&) = delete;
    int fd() const { return fd_; }
    bool close()
    {
        if (fd_ < 0)
            return true;
        const int fd = fd_;
        fd_ = -1;
        return ::close(fd) == 0;
    }

private:
    int fd_;
};

// The system's text for an error number, for the end of a failure's message.
QString reason(int error)
{
    return QString::fromLocal8Bit(std::strerror(error));
}

// 0 when all bytes were written, else the error number.
int writeAll(int fd, const QByteArray& bytes)
{
    qsizetype done = 0;
    while (done < bytes.size()) {
        const ssize_t wrote = ::write(fd, bytes.constData() + done, size_t(bytes.size() - done));
        if (wrote < 0 && errno == EINTR)
            continue;
        if (wrote < 0)
            return errno;
        if (wrote == 0)
            return EIO;
        done += wrote;
    }
    return 0;
}

mode_t currentUmask()
{
    const mode_t mask = ::umask(022);
    ::umask(mask);
    return mask;
}

// The bytes write produces, or false.
bool encode(const std::function<bool(QIODevice&)>& write, QByteArray& bytes)
{
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    return write(buffer);
}

[[noreturn]] void notRegular(const QString& fileName)
{
    throw EFCreateError(QDir::toNativeSeparators(fileName), QStringLiteral("not a regular file"));
}

void replaceWith(const QString& fileName, const QByteArray& bytes)
{
    QByteArray path = fileNameBytes(fileName);
    // A pipe would block the open until a reader comes, and a device or folder would be
    // replaced by the rename: refuse anything but a regular file (or a link to one) at once.
    struct stat status {};
    const bool exists = ::stat(path.constData(), &status) == 0;
    if (exists && !S_ISREG(status.st_mode))
        notRegular(fileName);
    // The rename replaces what a link points to, not the link.
    if (exists) {
        char resolved[PATH_MAX];
        if (::realpath(path.constData(), resolved))
            path = resolved;
    }

    QByteArray temporary = path + ".XXXXXX";
    Descriptor file(::mkostemp(temporary.data(), O_CLOEXEC));
    if (file.fd() < 0)
        throw EFCreateError(QDir::toNativeSeparators(fileName), reason(errno));
    const mode_t mode = exists ? (status.st_mode & 07777) : (0666 & ~currentUmask());
    int error = ::fchmod(file.fd(), mode) == 0 ? writeAll(file.fd(), bytes) : errno;
    // On disk before the rename, so that a crash cannot leave an empty file in the old one's
    // place; file systems that cannot sync are not an error.
    if (error == 0)
        ::fdatasync(file.fd());
    if (error == 0 && !file.close())
        error = errno;
    if (error == 0 && ::rename(temporary.constData(), path.constData()) != 0)
        error = errno;
    if (error != 0) {
        ::unlink(temporary.constData());
        throw EWriteError(reason(error));
    }
}

void writeInto(const QString& fileName, const QByteArray& bytes)
{
    const QByteArray path = fileNameBytes(fileName);
    // Non-blocking, so that a pipe cannot hold the open; it is refused below. Not through a link,
    // which would have the picture replace whatever file the link names.
    Descriptor file(::open(path.constData(), O_WRONLY | O_CLOEXEC | O_NONBLOCK | O_NOFOLLOW));
    if (file.fd() < 0) {
        const int error = errno;
        if (error == ENOENT)
            return replaceWith(fileName, bytes);
        if (error == EISDIR || error == ENXIO)
            notRegular(fileName);
        struct stat status {};
        if (error == ELOOP && ::lstat(path.constData(), &status) == 0 && S_ISLNK(status.st_mode))
            throw EFCreateError(QDir::toNativeSeparators(fileName), QStringLiteral("a symbolic link"));
        throw EFCreateError(QDir::toNativeSeparators(fileName), reason(error));
    }
    struct stat status {};
    if (::fstat(file.fd(), &status) != 0 || !S_ISREG(status.st_mode))
        notRegular(fileName);
    // A truncated picture could be taken for a thumbnail; an empty file never is, so a failed
    // write empties the file again (if even that fails, the error below still says so).
    const int error = ::ftruncate(file.fd(), 0) == 0 ? writeAll(file.fd(), bytes) : errno;
    if (error != 0) {
        if (::ftruncate(file.fd(), 0) != 0) {
        }
        throw EWriteError(reason(error));
    }
    if (!file.close()) {
        const int closeError = errno;
        if (::truncate(path.constData(), 0) != 0) {
        }
        throw EWriteError(reason(closeError));
    }
}

} // namespace

void saveFileReplacing(const QString& fileName, const std::function<bool(QIODevice&)>& write)
{
    QByteArray bytes;
    if (!encode(write, bytes)) {
        // Check the name first, so that an unusable name is reported as such.
        struct stat status {};
        if (::stat(fileNameBytes(fileName).constData(), &status) == 0 && !S_ISREG(status.st_mode))
            notRegular(fileName);
        throw EWriteError();
    }
    replaceWith(fileName, bytes);
}

void saveImageFile(const QImage& image, const QString& fileName, const char* format, int quality, SaveMode mode)
{
    QByteArray bytes;
    const bool encoded = encode(
        [&](QIODevice& device) {
            QImageWriter writer(&device, format);
            writer.setQuality(quality);
            return writer.write(image);
        },
        bytes);
    if (!encoded)
        throw EWriteError();
    if (mode == SaveMode::IntoExisting)
        writeInto(fileName, bytes);
    else
        replaceWith(fileName, bytes);
}
