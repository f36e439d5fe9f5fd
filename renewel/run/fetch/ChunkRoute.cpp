#include "run/fetch/ChunkRoute.h"

#include "chunk/ChunkStore.h"
#include "net/DownloadFile.h"
#include "net/DownloadQueue.h"
#include "net/SiteSources.h"
#include "run/install/InstalledState.h"
#include "run/report/RunReport.h"
#include "run/report/UpdateHost.h"

#include "platform/FileDescriptor.h"
#include "platform/FileIO.h"

#include <QFile>
#include <QSet>

#include <functional>
#include <memory>

namespace {
// Local chunks that turned out changed, or kept chunks that turned out bad, are fetched and the
// file built again; a file whose chunks keep changing stops after this many builds.
constexpr int MaxBuilds = 3;
}  // namespace

ChunkRoute::ChunkRoute(RouteContext context, InstalledState& state, const QList<PlannedEntry>& entries, int window)
    : c_(context), state_(state), entries_(entries), kept_(context.folders.program), indexes_(context, state, kept_),
      store_(context.queue, context.folders.download, window), packs_(context.queue),
      finder_(state, kept_, entries, context.folders.installBase, context.checkOnly)
{
}

void ChunkRoute::prepare(qsizetype i, const PlannedEntry& planned)
{
    if (!prepared_.contains(i)) {
        prepared_.insert(i);
        indexes_.prepare(i, planned);
    }
}

void ChunkRoute::estimate(qsizetype i, const PlannedEntry& planned, Cost cost)
{
    prepare(i, planned);
    store_.clear();
    b_.emplace();
    b_->i = i;
    b_->planned = &planned;
    b_->cost = std::move(cost);
    indexes_.obtain(i, planned, [this](std::optional<ChunkIndex> index, qint64 bytes) { indexed(std::move(index), bytes); });
}

void ChunkRoute::obtain(qsizetype i, const PlannedEntry& planned, Done done)
{
    prepare(i, planned);
    chunkFiles_.clear();
    builtFrom_.reset();
    store_.clear();
    b_.emplace();
    b_->i = i;
    b_->planned = &planned;
    b_->done = std::move(done);
    if (estimated_.contains(i)) {
        auto [index, bytes] = estimated_.take(i);
        return indexed(std::move(index), bytes);
    }
    indexes_.obtain(i, planned, [this](std::optional<ChunkIndex> index, qint64 bytes) { indexed(std::move(index), bytes); });
}

void ChunkRoute::indexed(std::optional<ChunkIndex> index, qint64 indexBytes)
{
    if (b_->cost)
        estimated_.insert(b_->i, {index, indexBytes});
    if (b_->cost && !index)
        return estimated(b_->planned->entry.size + indexBytes);
    if (!index)
        return end(ObtainedFile{});
    b_->index = std::move(*index);
    b_->indexBytes = indexBytes;
    builtFrom_ = b_->index;  // kept once the content is installed, however it came
    finder_.find(b_->i, b_->index.params, store_.installed(), [this] { plan(); });
}

void ChunkRoute::estimated(qint64 bytes)
{
    const Cost cost = std::move(b_->cost);
    b_.reset();
    cost(bytes);
}

void ChunkRoute::end(Result<ObtainedFile> result)
{
    store_.remote().stop();
    packs_.stop();
    const Done done = std::move(b_->done);
    b_.reset();
    done(std::move(result));
}

void ChunkRoute::fail(const QString& subject, const QString& reason)
{
    end(Result<ObtainedFile>::failure(c_.report.fail(subject, reason).error()));
}

namespace {
// The first place of each chunk not in place (nor, for a check, on a local source), in index order.
QList<qsizetype> placesToFetch(const ChunkIndex& index, const std::function<bool(qsizetype)>& have)
{
    QList<qsizetype> places;
    QSet<QByteArray> seen;
    for (qsizetype i = 0; i < index.chunks.size(); ++i) {
        const QByteArray& hash = index.chunks[i].hash;
        if (!have(i) && !seen.contains(hash)) {
            seen.insert(hash);
            places.append(i);
        }
    }
    return places;
}
}  // namespace

// A check counts what the range requests would download (the chunks an earlier run kept in the
// installation's download folder are not fetched); the file's own bytes when that costs more.
void ChunkRoute::plan()
{
    const qint64 size = b_->planned->entry.size;
    if (b_->cost) {
        const ChunkFolder previous(c_.folders.previous);
        const ChunkIndex& index = b_->index;
        const InstalledCopies& installed = store_.installed();
        const qint64 chunks = PackFetch::cost(packOffsets(index), placesToFetch(index, [&](qsizetype i) {
            return installed.has(index.chunks[i]) || previous.has(index.chunks[i]);
        }));
        return estimated(b_->indexBytes + (chunks + b_->indexBytes >= size ? size : chunks));
    }
    QString why;
    b_->file = std::make_shared<FileDescriptor>(OpenDownloadFile(builtPath(), true, &why));
    if (!b_->file->isOpen())
        return fail(shownUrl(), QStringLiteral("cannot create file: ") + why);
    b_->shared = std::make_shared<const ChunkIndex>(b_->index);
    b_->present = QList<bool>(b_->index.chunks.size(), false);
    fill(true);
}

// The chunks on the disk into the file, on a thread of its own.
void ChunkRoute::fill(bool checkExisting)
{
    auto file = b_->file;
    auto index = b_->shared;
    auto installed = std::make_shared<InstalledCopies>(store_.installed());
    const ChunkFolder folder = store_.folder();
    tasks_.run<Result<LocalFill>>(
        [file, index, present = b_->present, checkExisting, installed, folder] {
            return fillLocalChunks(file->fd(), *index, present, checkExisting, *installed, folder);
        },
        [this](Result<LocalFill> fill) { filled(std::move(fill)); });
}

// Each chunk whose local copy could not be had is dropped from the source that failed; the chunks
// not in place are fetched, when that costs fewer bytes than the whole file.
void ChunkRoute::filled(Result<LocalFill> fill)
{
    if (!b_)
        return;
    if (!fill)
        return fail(shownUrl(), fill.error());
    b_->present = std::move(fill->present);
    chunkFiles_ << fill->fromFolder;
    bool sourceDropped = false;
    if (!fill->problems.isEmpty()) {
        const ChunkSources::Refetch again = store_.refused(b_->index, fill->problems);
        if (again.failure)
            return fail(again.failure->url, again.failure->reason);
        sourceDropped = again.sourceDropped;
    }
    const QList<qsizetype> places = placesToFetch(b_->index, [this](qsizetype i) { return b_->present[i]; });
    if (!b_->filled) {
        b_->filled = true;
        const qint64 cost = PackFetch::cost(packOffsets(b_->index), places);
        if (cost + b_->indexBytes >= b_->planned->entry.size) {
            b_->file.reset();
            QFile::remove(builtPath());
            return end(ObtainedFile{});
        }
        b_->total = cost;
        c_.host.fileStarted(b_->planned->entry.listed, cost);
    } else if (!places.isEmpty() && !sourceDropped && ++b_->round >= MaxBuilds) {
        return fail(shownUrl(), QStringLiteral("its chunks keep changing on the disk"));
    }
    if (places.isEmpty())
        return finishFile();
    fetchPacks(places);
}

void ChunkRoute::progress(qint64 fetched)
{
    b_->fetched = fetched;
    c_.host.fileProgress(b_->total, std::min(b_->fetched, b_->total));
}

// The chunks from the pack, straight into the file; what a source serves only as chunk objects is
// fetched so.
void ChunkRoute::fetchPacks(QList<qsizetype> places)
{
    auto target = std::make_shared<PackTarget>();
    target->file = b_->file;
    target->index = b_->shared;
    target->packOffsets = packOffsets(b_->index);
    const QList<qint64> offsets = fileOffsets(b_->index);
    for (qsizetype i = 0; i < b_->index.chunks.size(); ++i)
        if (!b_->present[i])
            target->fileOffsets[b_->index.chunks[i].hash].append(offsets[i]);
    const qint64 before = b_->fetched;
    packs_.fetch(
        std::move(target), std::move(places), [this, before](qint64 bytes) { progress(before + bytes); },
        [this](PackFetch::Outcome outcome) { packsFetched(std::move(outcome)); });
}

void ChunkRoute::packsFetched(PackFetch::Outcome outcome)
{
    if (outcome.failure)
        return fail(outcome.failure->url, outcome.failure->reason);
    // Every chunk not left arrived, at each of its offsets.
    QSet<QByteArray> left;
    for (const qsizetype place : std::as_const(outcome.left))
        left.insert(b_->index.chunks[place].hash);
    for (qsizetype i = 0; i < b_->index.chunks.size(); ++i)
        if (!b_->present[i] && !left.contains(b_->index.chunks[i].hash))
            b_->present[i] = true;
    if (outcome.left.isEmpty())
        return finishFile();
    fetchObjects(outcome.left);
}

// Chunk objects into the download folder, then from there into the file; one that fails at a
// source is asked of another, and the file fails only when no source is left.
void ChunkRoute::fetchObjects(const QList<qsizetype>& places)
{
    QList<ChunkIndexEntry> chunks;
    for (const qsizetype place : places) {
        chunks << b_->index.chunks[place];
        chunkFiles_ << b_->index.chunks[place].hash;
    }
    store_.fetch(
        std::move(chunks),
        [this](const ChunkIndexEntry& chunk) { progress(b_->fetched + chunk.storedLength); },
        [this](std::optional<RemoteChunks::Failure> failure) {
            if (failure)
                return fail(failure->url, failure->reason);
            fill(false);
        });
}

// The file whole: hashed as it is on the disk for good, on a thread of its own.
void ChunkRoute::finishFile()
{
    auto file = b_->file;
    const qint64 size = b_->index.fileSize;
    tasks_.run<Result<QByteArray>>([file, size] { return hashDurableFile(file->fd(), size); },
                                   [this](Result<QByteArray> hash) { finished(std::move(hash)); });
}

void ChunkRoute::finished(Result<QByteArray> hash)
{
    if (!b_)
        return;
    b_->file.reset();
    if (!hash)
        return fail(shownUrl(), hash.error());
    if (b_->index.fileSize != b_->planned->entry.size || *hash != *b_->planned->digest) {
        QFile::remove(builtPath());  // nothing in it is to be trusted for a next run
        return fail(c_.queue.sources().url(0, ChunkStore::indexName(*b_->planned->digest)),
                    QStringLiteral("hash mismatch (the chunks do not make the file the checksum list names)"));
    }
    c_.host.fileProgress(b_->total, b_->total);
    end(ObtainedFile{builtPath(), *hash});
}

void ChunkRoute::installed(qsizetype i, const QByteArray& digest)
{
    if (!builtFrom_ || builtFrom_->fileHash != digest)
        return;
    kept_.keepIndex(*builtFrom_);
    finder_.listed(i);
    for (const QByteArray& hash : std::as_const(chunkFiles_))
        store_.folder().drop(hash);
    chunkFiles_.clear();
    builtFrom_.reset();
}

void ChunkRoute::prune()
{
    QSet<QByteArray> installed;
    for (const PlannedEntry& planned : entries_)
        if (const InstalledState::Entry* recorded = state_.find(planned.entry.listed))
            installed.insert(recorded->sha256);
    kept_.keepOnly(installed);
}

QString ChunkRoute::shownUrl() const { return b_->planned->entry.path.url(c_.queue.sources().prefix(0)); }

QString ChunkRoute::builtPath() const
{
    return c_.folders.download + QLatin1Char('/') + QString::fromLatin1(b_->planned->digest->toHex()) +
           QStringLiteral(".built");
}
