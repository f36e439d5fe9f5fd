#include "run/ChunkUpdate.h"

#include "chunk/ChunkIndexDelta.h"
#include "chunk/ChunkStore.h"
#include "net/DownloadFile.h"
#include "net/SiteSources.h"
#include "run/InstalledState.h"
#include "run/UpdateFiles.h"
#include "site/Sums.h"
#include "trust/Sha256.h"

#include <QFile>

// ChunkUpdate's fetching of chunk indexes, whole or as deltas.

namespace {
// A chunk index holds 40 bytes per chunk of at least 64 bytes; a longer download is refused.
constexpr qint64 MaxIndexBytes = 256 * 1024 * 1024;
}  // namespace

bool ChunkUpdate::HasIndex(const UpdateEntry& entry) const
{
    const std::optional<QByteArray> digest = c_.sums.digest(entry.listed);
    return digest && c_.sums.contains(ChunkStore::indexName(*digest).toLatin1());
}

std::optional<DownloadQueue::Job> ChunkUpdate::IndexJob(const UpdateEntry& entry, int source)
{
    if (!HasIndex(entry))
        return std::nullopt;
    DownloadQueue::Job job = fullIndexJob(entry, source);
    // The installed content came from an index that is kept: the delta from it will do.
    const QByteArray digest = *c_.sums.digest(entry.listed);
    const InstalledState::Entry* recorded = c_.state.Find(entry.listed);
    if (!recorded || recorded->sha256 == digest || !kept_.HasIndex(recorded->sha256) ||
        IdentityOf(entry.path.installPath(c_.installBase)) != std::optional<FileIdentity>(recorded->identity))
        return job;
    deltaFrom_.insert(entry.listed, recorded->sha256);
    job.url = c_.sources.url(source, ChunkStore::deltaName(digest, recorded->sha256));
    job.file.chop(5);
    job.file += QStringLiteral(".cidd");
    job.hash = false;
    job.retry = false;  // any failure falls back to the full index
    return job;
}

DownloadQueue::Job ChunkUpdate::fullIndexJob(const UpdateEntry& entry, int source) const
{
    DownloadQueue::Job job;
    job.url = c_.sources.url(source, ChunkStore::indexName(*c_.sums.digest(entry.listed)));
    // One per entry: two entries of the same content may fetch it at once.
    job.file = c_.downloadFolder + QLatin1Char('/') + QString::fromLatin1(Sha256::hash(entry.listed).toHex().left(32)) +
               QStringLiteral(".cidx");
    job.maxSize = MaxIndexBytes;
    job.hash = true;
    job.resume = false;
    job.durable = false;
    return job;
}

// The index, when it is the one update.sums vouches for and describes the listed file.
std::optional<ChunkIndex> ChunkUpdate::readIndex(const UpdateEntry& entry, const DownloadQueue::Job& job) const
{
    const QByteArray bytes = job.succeeded ? ReadDownloadFile(job.file, MaxIndexBytes) : QByteArray();
    QFile::remove(job.file);
    if (!job.succeeded)
        return std::nullopt;
    return listedIndex(entry, bytes, job.digest);
}

// The index rebuilt from a delta and the kept index it starts from. The delta is not signed: the
// rebuilt index is believed only when its bytes are the listed index's.
std::optional<ChunkIndex> ChunkUpdate::fromDelta(const UpdateEntry& entry, const QByteArray& oldHash,
                                                  const DownloadQueue::Job& job)
{
    const QByteArray delta = job.succeeded ? ReadDownloadFile(job.file, MaxIndexBytes) : QByteArray();
    QFile::remove(job.file);
    const std::optional<std::pair<ChunkIndex, QByteArray>> old = job.succeeded ? kept_.FindIndex(oldHash) : std::nullopt;
    if (!old)
        return std::nullopt;
    const Result<ChunkIndex> rebuilt = applyDelta(old->first, old->second, delta, entry.size);
    if (!rebuilt)
        return std::nullopt;
    const QByteArray bytes = rebuilt->serialize();
    return listedIndex(entry, bytes, Sha256::hash(bytes));
}

std::optional<ChunkIndex> ChunkUpdate::listedIndex(const UpdateEntry& entry, QByteArrayView bytes,
                                                    const QByteArray& bytesHash) const
{
    const std::optional<QByteArray> digest = c_.sums.digest(entry.listed);
    if (!digest || c_.sums.digest(ChunkStore::indexName(*digest).toLatin1()) != bytesHash)
        return std::nullopt;
    Result<ChunkIndex> index = ChunkIndex::parse(bytes);
    if (!index || index->fileHash != *digest || index->fileSize != entry.size)
        return std::nullopt;
    return std::move(index).value();
}

// The index the job fetched, or rebuilt from the delta it fetched, when it is the listed one;
// indexBytes: what was fetched for it.
std::optional<ChunkIndex> ChunkUpdate::obtainIndex(const UpdateEntry& entry, const DownloadQueue::Job& firstJob,
                                                    qint64& indexBytes)
{
    DownloadQueue::Job indexJob = firstJob;
    indexBytes = DownloadFileSize(indexJob.file);
    if (deltaFrom_.contains(entry.listed)) {
        // A delta that fails costs one more round trip for the full index, and its source stays.
        if (std::optional<ChunkIndex> index = fromDelta(entry, deltaFrom_.take(entry.listed), indexJob))
            return index;
        const int source = c_.sources.pick();
        if (source < 0)
            return std::nullopt;
        const qsizetype key = nextKey_++;
        c_.queue.Start(key, fullIndexJob(entry, source));
        indexJob = c_.queue.Await(key, nullptr);
        c_.checkCancelled();
        indexBytes += DownloadFileSize(indexJob.file);
    }
    std::optional<ChunkIndex> index = readIndex(entry, indexJob);
    // A source that failed or served another index is not asked again; the file comes whole.
    if (const int source = c_.sources.sourceOf(indexJob.url); !index && source >= 0 && c_.sources.aliveCount() > 1)
        c_.sources.failed(source, indexJob.succeeded ? QStringLiteral("served a chunk index that is not the listed one")
                                                     : indexJob.error);
    return index;
}
