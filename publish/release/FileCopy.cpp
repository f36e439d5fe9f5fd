#include "release/FileCopy.h"

#include "common/PublishError.h"
#include "platform/Entries.h"
#include "platform/FileIO.h"
#include "platform/RegularFile.h"
#include "platform/SystemError.h"
#include "trust/Sha256.h"

#include <QFile>

#include <cerrno>
#include <filesystem>
#include <system_error>

namespace {

RegularFile openNew(const QString& path)
{
    RegularFile out = RegularFile::open(path, RegularFile::Access::CreateNew, Links::Refuse);
    if (!out)
        throw PublishError{path, out.reason()};
    return out;
}

void writeAll(RegularFile& out, const char* data, qint64 size, const QString& path)
{
    if (!platform::writeAll(out.fd(), data, size))
        throw PublishError{path, systemReason(errno)};
}

void closeChecked(RegularFile& out, const QString& path)
{
    // A file system may report a full disk only when the file is closed.
    if (!out.descriptor().close())
        throw PublishError{path, systemReason(errno)};
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
    RegularFile out = openNew(target);
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
    const Result<bool> linked = platform::hardLink(QFile::decodeName(source), QFile::decodeName(target));
    if (!linked)
        throw PublishError{QFile::decodeName(target), linked.error()};
    if (*linked)
        return;
    std::error_code error;
    std::filesystem::copy(source.toStdString(), target.toStdString(), std::filesystem::copy_options::copy_symlinks, error);
    if (error)
        throw PublishError{QFile::decodeName(target), QString::fromLocal8Bit(error.message())};
}

void writeNewFile(const QString& path, const QByteArray& bytes)
{
    RegularFile out = openNew(path);
    writeAll(out, bytes.constData(), bytes.size(), path);
    closeChecked(out, path);
}

void removeTree(const QString& path)
{
    if (const Status removed = platform::removeTree(path); !removed)
        throw PublishError{path, QStringLiteral("cannot remove: ") + removed.error()};
}
