#include "verify/VerifyChunks.h"

#include "store/ChunkIndexes.h"
#include "chunk/ChunkCodec.h"
#include "chunk/ChunkStore.h"
#include "site/Sums.h"
#include "site/UpdateList.h"

#include <QFile>
#include <QSet>
#include <QThread>

#include <atomic>
#include <mutex>
#include <thread>
#include <vector>

namespace {

// Why the stored chunk is not the one the entry names; empty when it is.
QString chunkFault(const QString& path, const ChunkIndexEntry& entry, ChunkDecompressor& decompressor)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return file.exists() ? file.errorString() : QStringLiteral("missing");
    if (file.size() != qint64(entry.storedLength))  // not read: it may be of any size
        return QStringLiteral("%1 bytes stored, the index says %2").arg(file.size()).arg(entry.storedLength);
    const Result<QByteArray> chunk = decompressor.decompress(file.readAll(), entry);
    return chunk ? QString() : chunk.error();
}

// Checks the chunks on every core; the reason for each faulty one, in order.
QList<QString> checkChunks(const QString& site, const QList<ChunkIndexEntry>& chunks, qint64 totalBytes,
                           ProgressMeter& meter)
{
    QList<QString> faults(chunks.size());
    std::atomic<qsizetype> next{0};
    std::mutex progressMutex;
    ProgressMeter::Phase progress(meter, int(chunks.size()), totalBytes);
    const auto work = [&] {
        ChunkDecompressor decompressor;
        for (qsizetype i; (i = next++) < chunks.size();) {
            faults[i] = chunkFault(site + '/' + ChunkStore::objectName(chunks[i].hash), chunks[i], decompressor);
            const std::lock_guard lock(progressMutex);
            progress.advance(chunks[i].length);
        }
    };
    std::vector<std::thread> workers;
    for (int i = 1; i < QThread::idealThreadCount(); ++i)
        workers.emplace_back(work);
    work();
    for (std::thread& worker : workers)
        worker.join();
    return faults;
}

}  // namespace

void checkChunkStore(const QString& siteDir, const UpdateListEntries& list, const Sums& sums, SiteCheck& check,
                     ProgressMeter& progress)
{
    // Each distinct chunk entry once: an index that gives a chunk another length or stored length
    // than the store holds is caught by that entry's own check.
    QList<ChunkIndexEntry> chunks;
    QSet<QByteArray> seen;
    qint64 bytes = 0;
    for (const ListedIndex& listed : listedIndexes(list, sums)) {
        ++check.indexes;
        const QString path = siteDir + '/' + listed.name;
        const Result<ReadIndex> read = readChunkIndex(path, listed.fileHash, listed.fileSize, listed.hash);
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
    }
    const QList<QString> faults = checkChunks(siteDir, chunks, bytes, progress);
    check.chunks += chunks.size();
    for (qsizetype i = 0; i < chunks.size(); ++i) {
        if (!faults[i].isEmpty())
            check.problems.append({QFile::encodeName(siteDir + '/' + ChunkStore::objectName(chunks[i].hash)), faults[i]});
    }
}
