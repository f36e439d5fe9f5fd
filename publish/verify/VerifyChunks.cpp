#include "verify/VerifyChunks.h"

#include "common/SiteFileReading.h"
#include "store/ChunkIndexes.h"
#include "verify/VerifyDeltas.h"
#include "chunk/ChunkCodec.h"
#include "chunk/ChunkStore.h"
#include "site/Sums.h"
#include "site/UpdateList.h"
#include "trust/Sha256.h"

#include <QFile>
#include <QSet>
#include <QThread>

#include <atomic>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

namespace {

struct CheckedIndex {
    QString path;
    ChunkIndex index;
};

// The chunk the entry names, as the store holds it decompressed; the reason when it is not that.
Result<QByteArray> storedChunk(const QString& site, const ChunkIndexEntry& entry, ChunkDecompressor& decompressor)
{
    RegularFile file = openSiteFile(site + '/' + ChunkStore::objectName(entry.hash));
    if (!file)
        return Result<QByteArray>::failure(openFailure(file));
    if (file.size() != qint64(entry.storedLength))  // not read: it may be of any size
        return Result<QByteArray>::failure(
            QStringLiteral("%1 bytes stored, the index says %2").arg(file.size()).arg(entry.storedLength));
    const Result<QByteArray> stored = file.readWhole(entry.storedLength);
    if (!stored)
        return stored;
    return decompressor.decompress(*stored, entry);
}

// Runs work(0 .. count-1) on every core, each number once.
void onEveryCore(qsizetype count, const std::function<void(qsizetype, ChunkDecompressor&)>& work)
{
    std::atomic<qsizetype> next{0};
    const auto worker = [&] {
        ChunkDecompressor decompressor;
        for (qsizetype i; (i = next++) < count;)
            work(i, decompressor);
    };
    std::vector<std::thread> workers;
    for (int i = 1; i < QThread::idealThreadCount(); ++i)
        workers.emplace_back(worker);
    worker();
    for (std::thread& thread : workers)
        thread.join();
}

// Checks the chunks on every core; the reason for each faulty one, in order.
QList<QString> checkChunks(const QString& site, const QList<ChunkIndexEntry>& chunks, qint64 totalBytes,
                           ProgressMeter& meter)
{
    QList<QString> faults(chunks.size());
    std::mutex progressMutex;
    ProgressMeter::Phase progress(meter, int(chunks.size()), totalBytes);
    onEveryCore(chunks.size(), [&](qsizetype i, ChunkDecompressor& decompressor) {
        faults[i] = storedChunk(site, chunks[i], decompressor).error();
        const std::lock_guard lock(progressMutex);
        progress.advance(chunks[i].length);
    });
    return faults;
}

// Whether the index's chunks, in its order, make the file it describes: sound chunks and right
// lengths in a wrong order would pass every other check and fail every player's update.
QList<bool> checkOrder(const QString& site, const QList<CheckedIndex>& indexes)
{
    QList<bool> whole(indexes.size());
    onEveryCore(indexes.size(), [&](qsizetype i, ChunkDecompressor& decompressor) {
        Sha256 file;
        for (const ChunkIndexEntry& entry : indexes[i].index.chunks) {
            const Result<QByteArray> chunk = storedChunk(site, entry, decompressor);
            if (!chunk)
                return;  // reported as the chunk's own fault
            file.update(*chunk);
        }
        whole[i] = file.final() == indexes[i].index.fileHash;
    });
    return whole;
}

// Each listed index that is sound, and each distinct chunk entry they name (an index that gives
// a chunk another length or stored length than the store holds is caught by that entry's own
// check).
QList<CheckedIndex> readIndexes(const QString& siteDir, const QList<ListedIndex>& listed, SiteCheck& check,
                                QList<ChunkIndexEntry>& chunks, qint64& bytes)
{
    QList<CheckedIndex> indexes;
    QSet<QByteArray> seen;
    for (const ListedIndex& one : listed) {
        ++check.indexes;
        const QString path = siteDir + '/' + one.name;
        Result<ReadIndex> read = readChunkIndex(path, one.fileHash, one.fileSize, one.hash);
        if (!read) {
            check.problems.append({QFile::encodeName(path), read.error()});
            continue;
        }
        for (const ChunkIndexEntry& entry : read->index.chunks) {
            QByteArray key = entry.hash;
            key.append(reinterpret_cast<const char*>(&entry.length), 4).append(reinterpret_cast<const char*>(&entry.storedLength), 4);
            if (!seen.contains(key)) {
                seen.insert(key);
                chunks.append(entry);
                bytes += entry.length;
            }
        }
        indexes.append({path, std::move(read).value().index});
    }
    return indexes;
}

// Each sound index's pack is there, holding exactly its chunks' stored bytes (a pack of another
// length would send players' range requests into the wrong chunks).
void checkPacks(const QString& siteDir, const QList<CheckedIndex>& indexes, SiteCheck& check)
{
    for (const CheckedIndex& one : indexes) {
        const QString path = siteDir + '/' + ChunkStore::packName(one.index.fileHash);
        qint64 total = 0;
        for (const ChunkIndexEntry& entry : one.index.chunks)
            total += entry.storedLength;
        const RegularFile pack = openSiteFile(path);
        if (!pack)
            check.problems.append({QFile::encodeName(path), openFailure(pack)});
        else if (pack.size() != total)
            check.problems.append({QFile::encodeName(path), QStringLiteral("%1 bytes, its index's chunks are stored in %2")
                                                                .arg(pack.size()).arg(total)});
    }
}

}  // namespace

void checkChunkStore(const QString& siteDir, const UpdateListEntries& list, const Sums& sums, SiteCheck& check,
                     ProgressMeter& progress)
{
    const QList<ListedIndex> listed = listedIndexes(list, sums);
    QList<ChunkIndexEntry> chunks;
    qint64 bytes = 0;
    const QList<CheckedIndex> indexes = readIndexes(siteDir, listed, check, chunks, bytes);
    const QList<QString> faults = checkChunks(siteDir, chunks, bytes, progress);
    check.chunks += chunks.size();
    bool chunksSound = true;
    for (qsizetype i = 0; i < chunks.size(); ++i) {
        if (!faults[i].isEmpty()) {
            chunksSound = false;
            check.problems.append({QFile::encodeName(siteDir + '/' + ChunkStore::objectName(chunks[i].hash)), faults[i]});
        }
    }
    if (chunksSound) {
        const QList<bool> whole = checkOrder(siteDir, indexes);
        for (qsizetype i = 0; i < indexes.size(); ++i) {
            if (!whole[i])
                check.problems.append({QFile::encodeName(indexes[i].path),
                                       QStringLiteral("its chunks in its order do not make the file it describes")});
        }
    }
    checkPacks(siteDir, indexes, check);
    checkDeltas(siteDir, listed, check);
}
