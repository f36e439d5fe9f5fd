#include "SaveFile.h"

#include "Exception.h"
#include "FileName.h"
#include "platform/FileDescriptor.h"
#include "platform/FileIO.h"

#include <QBuffer>
#include <QDir>
#include <QImageWriter>

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

// QSaveFile would do the replacing, but it takes names as text and cannot write a name that is
// not UTF-8; the few system calls below keep the bytes.

namespace {

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
    FileDescriptor file(::mkostemp(temporary.data(), O_CLOEXEC));
    if (file.fd() < 0)
        throw EFCreateError(QDir::toNativeSeparators(fileName));
    const mode_t mode = exists ? (status.st_mode & 07777) : (0666 & ~currentUmask());
    bool written = ::fchmod(file.fd(), mode) == 0 && platform::writeAll(file.fd(), bytes);
    // On disk before the rename, so that a crash cannot leave an empty file in the old one's
    // place; file systems that cannot sync are not an error.
    if (written)
        (void)platform::syncFileData(file.fd());
    written = written && file.close() && ::rename(temporary.constData(), path.constData()) == 0;
    if (!written) {
        ::unlink(temporary.constData());
        throw EWriteError();
    }
}

void writeInto(const QString& fileName, const QByteArray& bytes)
{
    const QByteArray path = fileNameBytes(fileName);
    // Non-blocking, so that a pipe cannot hold the open; it is refused below.
    FileDescriptor file(::open(path.constData(), O_WRONLY | O_CLOEXEC | O_NONBLOCK));
    if (file.fd() < 0) {
        if (errno == ENOENT)
            return replaceWith(fileName, bytes);
        if (errno == EISDIR || errno == ENXIO)
            notRegular(fileName);
        throw EFCreateError(QDir::toNativeSeparators(fileName));
    }
    struct stat status {};
    if (::fstat(file.fd(), &status) != 0 || !S_ISREG(status.st_mode))
        notRegular(fileName);
    // A truncated picture could be taken for a thumbnail; an empty file never is, so a failed
    // write empties the file again (if even that fails, the error below still says so).
    if (::ftruncate(file.fd(), 0) != 0 || !platform::writeAll(file.fd(), bytes)) {
        if (::ftruncate(file.fd(), 0) != 0) {
        }
        throw EWriteError();
    }
    if (!file.close()) {
        if (::truncate(path.constData(), 0) != 0) {
        }
        throw EWriteError();
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
