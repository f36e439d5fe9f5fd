#include "chunk/ChunkFolder.h"

#include "chunk/ChunkCodec.h"
#include "chunk/ChunkStore.h"

#include "platform/FileIO.h"
#include "platform/RegularFile.h"

#include <QFile>

#include <algorithm>

QString ChunkFolder::path(QByteArrayView hash) const
{
    return folder_ + QLatin1Char('/') + ChunkStore::objectFileName(hash);
}

bool ChunkFolder::has(const ChunkIndexEntry& entry) const
{
    const std::optional<FileIdentity> found = platform::identityOf(path(entry.hash), Links::Refuse);
    return found && found->size == entry.storedLength;
}

Result<QByteArray> ChunkFolder::read(const ChunkIndexEntry& entry, ChunkDecompressor& decompressor) const
{
    const RegularFile file = RegularFile::open(path(entry.hash));
    if (!file)
        return Result<QByteArray>::failure(QStringLiteral("not fetched (%1)").arg(file.reason()));
    // One byte more than the index allows shows a stored form that is too long.
    QByteArray stored(qsizetype(entry.storedLength) + 1, Qt::Uninitialized);
    stored.truncate(qsizetype(std::max<qint64>(platform::readAll(file.fd(), stored.data(), stored.size()), 0)));
    return decompressor.decompress(stored, entry);
}

void ChunkFolder::drop(QByteArrayView hash) const { QFile::remove(path(hash)); }
