#include "chunk/ChunkStoreWriter.h"

#include "AtomicFile.h"
#include "chunk/ChunkStore.h"
#include "chunk/ContentChunker.h"
#include "trust/Sha256.h"

#include "platform/Folders.h"
#include "platform/RegularFile.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <zstd.h>

namespace {

Status writeObject(const QString& path, const QByteArray& bytes, QSet<QString>& folders)
{
    const QString folder = QFileInfo(path).path();
    if (!folders.contains(folder)) {
        if (const Status made = platform::makeFolders(folder); !made)
            return Status::failure(QStringLiteral("cannot make the folder %1: %2").arg(folder, made.error()));
        folders.insert(folder);
    }
    // Not flushed one by one (addFile syncs them all before the index): an object cut short by a
    // crash is found by the check of existing objects and written again.
    return replaceFile(path, bytes, false);
}

}  // namespace

ChunkStoreWriter::ChunkStoreWriter(QString siteFolder, ChunkParams params, int level)
    : siteFolder_(std::move(siteFolder)), params_(params), compressor_(level)
{
}

Result<quint32> ChunkStoreWriter::storeChunk(QByteArrayView chunk, const QByteArray& hash, StoredFile& stats)
{
    const QString path = siteFolder_ + QLatin1Char('/') + ChunkStore::objectName(hash);
    // An object larger than zstd's bound for the chunk is not the chunk, nor is anything but a
    // regular file (a link, a pipe): written again, read no further than the bound.
    const Result<QByteArray> existing = platform::readRegularFile(path, qint64(ZSTD_compressBound(size_t(chunk.size()))));
    if (existing) {
        const QByteArray& stored = *existing;
        const ChunkIndexEntry entry{hash, quint32(chunk.size()), quint32(stored.size())};
        if (decompressor_.decompress(stored, entry)) {
            ++stats.chunksKept;
            return entry.storedLength;
        }
    }
    const QByteArray compressed = compressor_.compress(chunk);
    if (const Status written = writeObject(path, compressed, folders_); !written)
        return Result<quint32>::failure(QStringLiteral("%1: %2").arg(QDir::toNativeSeparators(path), written.error()));
    ++stats.chunksWritten;
    stats.bytesWritten += compressed.size();
    return quint32(compressed.size());
}

Result<StoredFile> ChunkStoreWriter::addFile(const QString& path)
{
    const auto fail = [](const QString& why) { return Result<StoredFile>::failure(why); };
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return fail(QStringLiteral("%1: %2").arg(QDir::toNativeSeparators(path), file.errorString()));

    StoredFile stored;
    stored.index.params = params_;
    Sha256 whole, one;
    const Status status = forEachChunk(file, params_, [&](qint64 offset, QByteArrayView bytes) {
        whole.update(bytes);
        one.update(bytes);
        const QByteArray hash = one.final();
        const Result<quint32> storedLength = storeChunk(bytes, hash, stored);
        if (!storedLength)
            return Status::failure(storedLength.error());
        stored.index.chunks.append({hash, quint32(bytes.size()), *storedLength});
        stored.index.fileSize = offset + bytes.size();
        return Status();
    });
    if (!status)
        return fail(status.error());
    stored.index.fileHash = whole.final();

    const QByteArray bytes = stored.index.serialize();
    stored.indexName = ChunkStore::indexName(stored.index.fileHash);
    stored.indexHash = Sha256::hash(bytes);
    const QString indexPath = siteFolder_ + QLatin1Char('/') + stored.indexName;
    // The chunks reach the disk before the index that names them: after a crash an index never
    // names a chunk that was lost (one sync of the file system for all of them, files and folders).
    if (stored.chunksWritten > 0) {
        if (const Status synced = platform::syncFileSystem(siteFolder_); !synced)
            return fail(QStringLiteral("%1: %2").arg(QDir::toNativeSeparators(siteFolder_), synced.error()));
    }
    if (const Status written = writeObject(indexPath, bytes, folders_); !written)
        return fail(QStringLiteral("%1: %2").arg(QDir::toNativeSeparators(indexPath), written.error()));
    return stored;
}

Status ChunkStoreWriter::writePack(const ChunkIndex& index)
{
    const QString path = siteFolder_ + QLatin1Char('/') + ChunkStore::packName(index.fileHash);
    qint64 total = 0;
    for (const ChunkIndexEntry& entry : index.chunks)
        total += entry.storedLength;
    // Named by its content: one of the right size is the pack (verify reads it to be sure).
    if (const RegularFile existing = RegularFile::open(path); existing && existing.size() == total)
        return {};
    const QString folder = QFileInfo(path).path();
    if (!folders_.contains(folder)) {
        if (const Status made = platform::makeFolders(folder); !made)
            return Status::failure(QStringLiteral("cannot make the folder %1: %2").arg(folder, made.error()));
        folders_.insert(folder);
    }
    const Status written = replaceFile(path, [&](QFile& out) -> QString {
        for (const ChunkIndexEntry& entry : index.chunks) {
            const QString name = siteFolder_ + QLatin1Char('/') + ChunkStore::objectName(entry.hash);
            const Result<QByteArray> stored = platform::readRegularFile(name, entry.storedLength);
            if (!stored)
                return QStringLiteral("%1: %2").arg(QDir::toNativeSeparators(name), stored.error());
            if (stored->size() != qsizetype(entry.storedLength))
                return QStringLiteral("%1: %2 bytes, the index says %3")
                    .arg(QDir::toNativeSeparators(name)).arg(stored->size()).arg(entry.storedLength);
            if (out.write(*stored) != stored->size())
                return out.errorString();
        }
        return QString();
    });
    if (!written)
        return Status::failure(QStringLiteral("%1: %2").arg(QDir::toNativeSeparators(path), written.error()));
    return {};
}
