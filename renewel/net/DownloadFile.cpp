#include "net/DownloadFile.h"

#include "platform/FileIO.h"
#include "platform/RegularFile.h"

#include <QFile>
#include <QFileInfo>

#include <algorithm>

namespace {
// Removes what is at path unless it is a regular file, a folder or nothing: a link, pipe or
// device there is a leftover.
void removeIfNotRegular(const QString& path)
{
    const QFileInfo info(path);
    if (info.isSymLink() || (info.exists() && !info.isFile() && !info.isDir()))
        QFile::remove(path);
}

QString whyNot(const RegularFile& file)
{
    return file.failure() == RegularFile::Failure::Link || file.failure() == RegularFile::Failure::NotRegular
               ? QStringLiteral("not a regular file")
               : file.reason();
}
}  // namespace

int OpenDownloadFile(const QString& path, bool keep, QString* why)
{
    const RegularFile::Access access = keep ? RegularFile::Access::ReadWriteCreate : RegularFile::Access::ReadWriteEmpty;
    removeIfNotRegular(path);
    RegularFile file = RegularFile::open(path, access, Links::Refuse);
    if (file.failure() == RegularFile::Failure::Link) {  // a link put there meanwhile
        QFile::remove(path);
        file = RegularFile::open(path, access, Links::Refuse);
    }
    if (!file) {
        if (why)
            *why = whyNot(file);
        return -1;
    }
    return file.descriptor().release();
}

qint64 DownloadFileSize(const QString& path)
{
    const std::optional<FileIdentity> identity = platform::identityOf(path, Links::Refuse);
    return identity ? identity->size : -1;
}

QByteArray ReadDownloadFile(const QString& path, qint64 maxSize)
{
    const RegularFile file = RegularFile::open(path, RegularFile::Access::Read, Links::Refuse);
    if (!file)
        return {};
    // Sized by the file, not the limit: an index is read with a limit of hundreds of MiB.
    const qint64 size = std::min(file.size(), maxSize);
    QByteArray bytes(size, Qt::Uninitialized);
    const qint64 got = platform::readAll(file.fd(), bytes.data(), size);
    bytes.truncate(got < 0 ? 0 : got);
    return bytes;
}

bool WriteDownloadFile(const QString& path, const QByteArray& bytes)
{
    QFile::remove(path);
    RegularFile file = RegularFile::open(path, RegularFile::Access::CreateNew, Links::Refuse);
    return file && platform::writeAll(file.fd(), bytes) && file.descriptor().close();
}
