#include "run/fetch/ChunkIndexFetch.h"

#include "chunk/ChunkIndexDelta.h"
#include "chunk/ChunkStore.h"
#include "net/DownloadFile.h"
#include "net/SiteSources.h"
#include "run/install/InstalledChunks.h"
#include "run/install/InstalledState.h"
#include "trust/Sha256.h"

#include <QFile>

namespace {
// A chunk index holds 40 bytes per chunk of at least 64 bytes; a longer download is refused.
constexpr qint64 MaxIndexBytes = 256 * 1024 * 1024;
}  // namespace

// The kept index the installed content came from, when the delta from it will do.
QByteArray ChunkIndexFetch::deltaBase(const PlannedEntry& planned) const
{
    const InstalledState::Entry* recorded = state_.find(planned.entry.listed);
    if (!recorded || recorded->sha256 == *planned.digest || !kept_.hasIndex(recorded->sha256) ||
        IdentityOf(planned.entry.path.installPath(c_.folders.installBase)) !=
            std::optional<FileIdentity>(recorded->identity))
        return {};
    return recorded->sha256;
}

void ChunkIndexFetch::prepare(qsizetype i, const PlannedEntry& planned) { start(i, planned, false); }

// Index and delta come from one source each: a failure falls back (to the full index, to the
// whole file) rather than asking the next source.
void ChunkIndexFetch::start(qsizetype i, const PlannedEntry& planned, bool full)
{
    Pending& pending = pending_[i];
    pending.outcome.reset();
    pending.full = full;
    pending.deltaFrom = full ? QByteArray() : deltaBase(planned);
    DownloadQueue::Fetch fetch;
    // One per entry: two entries of the same content may fetch it at once.
    fetch.file = c_.folders.temp(QString::fromLatin1(Sha256::hash(planned.entry.listed).toHex().left(32)) +
                                 (pending.deltaFrom.isEmpty() ? QStringLiteral(".cidx") : QStringLiteral(".cidd")));
    fetch.name = pending.deltaFrom.isEmpty() ? ChunkStore::indexName(*planned.digest)
                                             : ChunkStore::deltaName(*planned.digest, pending.deltaFrom);
    fetch.maxSize = MaxIndexBytes;
    fetch.hash = pending.deltaFrom.isEmpty();
    fetch.retry = pending.deltaFrom.isEmpty();  // any failure of the delta falls back to the full index
    fetch.resume = false;
    fetch.durable = false;
    fetch.cacheable = true;
    fetch.order = full ? DownloadQueue::Order::Now : DownloadQueue::Order::InList;
    fetch.place = i;
    fetch.source = c_.queue.sources().pick();  // none left: reported as failed
    c_.queue.start(std::move(fetch), [this, i, planned](const DownloadQueue::Outcome& outcome) {
        const auto found = pending_.find(i);
        if (found == pending_.end())
            return;
        found->outcome = outcome;
        fetched_[i] += DownloadFileSize(outcome.file);
        if (found->done)
            arrived(i, planned);
    });
}

void ChunkIndexFetch::obtain(qsizetype i, const PlannedEntry& planned, Done done)
{
    Pending& pending = pending_[i];
    pending.done = std::move(done);
    if (pending.outcome)
        arrived(i, planned);
}

void ChunkIndexFetch::arrived(qsizetype i, const PlannedEntry& planned)
{
    Pending& pending = pending_[i];
    const DownloadQueue::Outcome outcome = *pending.outcome;
    if (!pending.deltaFrom.isEmpty()) {
        if (std::optional<ChunkIndex> index = fromDelta(planned, pending.deltaFrom, outcome)) {
            const Done done = pending_.take(i).done;
            return done(std::move(index), fetched_.take(i));
        }
        // A delta that fails costs one more round trip for the full index, and its source stays.
        const Done done = std::move(pending.done);
        start(i, planned, true);
        pending_[i].done = done;
        return;
    }
    std::optional<ChunkIndex> index = readIndex(planned, outcome);
    // A source that failed or served another index is not asked again; the file comes whole.
    SiteSources& sources = c_.queue.sources();
    if (!index && sources.alive(outcome.source) && sources.aliveCount() > 1)
        c_.queue.dropSource(outcome.source, outcome.succeeded
                                                ? QStringLiteral("served a chunk index that is not the listed one")
                                                : outcome.error);
    const Done done = pending_.take(i).done;
    done(std::move(index), fetched_.take(i));
}

// The index, when it is the one update.sums vouches for and describes the listed file.
std::optional<ChunkIndex> ChunkIndexFetch::readIndex(const PlannedEntry& planned,
                                                     const DownloadQueue::Outcome& outcome) const
{
    const QByteArray bytes = outcome.succeeded ? ReadDownloadFile(outcome.file, MaxIndexBytes) : QByteArray();
    QFile::remove(outcome.file);
    if (!outcome.succeeded)
        return std::nullopt;
    return listedIndex(planned, bytes, outcome.digest);
}

// The index rebuilt from a delta and the kept index it starts from. The delta is not signed: the
// rebuilt index is believed only when its bytes are the listed index's.
std::optional<ChunkIndex> ChunkIndexFetch::fromDelta(const PlannedEntry& planned, const QByteArray& oldHash,
                                                     const DownloadQueue::Outcome& outcome)
{
    const QByteArray delta = outcome.succeeded ? ReadDownloadFile(outcome.file, MaxIndexBytes) : QByteArray();
    QFile::remove(outcome.file);
    const std::optional<std::pair<ChunkIndex, QByteArray>> old =
        outcome.succeeded ? kept_.findIndex(oldHash) : std::nullopt;
    if (!old)
        return std::nullopt;
    const Result<ChunkIndex> rebuilt = applyDelta(old->first, old->second, delta, planned.entry.size);
    if (!rebuilt)
        return std::nullopt;
    const QByteArray bytes = rebuilt->serialize();
    return listedIndex(planned, bytes, Sha256::hash(bytes));
}

std::optional<ChunkIndex> ChunkIndexFetch::listedIndex(const PlannedEntry& planned, QByteArrayView bytes,
                                                       const QByteArray& bytesHash) const
{
    if (!planned.indexDigest || *planned.indexDigest != bytesHash)
        return std::nullopt;
    Result<ChunkIndex> index = ChunkIndex::parse(bytes);
    if (!index || index->fileHash != *planned.digest || index->fileSize != planned.entry.size)
        return std::nullopt;
    return std::move(index).value();
}
