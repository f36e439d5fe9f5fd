#include "run/fetch/ChunkRoute.h"

#include "run/fetch/ChunkEstimate.h"
#include "chunk/ChunkStore.h"
#include "net/DownloadFile.h"
#include "net/SiteSources.h"
#include "run/install/InstalledState.h"
#include "run/report/RunReport.h"
#include "run/report/UpdateHost.h"

#include "platform/FileIO.h"

#include <QFile>

#include <sys/stat.h>
#include <unistd.h>

namespace {
// Local chunks that turned out changed, or kept chunks that turned out bad, are fetched and the
// file built again; a file whose chunks keep changing stops after this many builds.
constexpr int MaxBuilds = 3;
}  // namespace

ChunkRoute::ChunkRoute(RouteContext context, InstalledState& state, const QList<PlannedEntry>& entries)
    : c_(context), state_(state), entries_(entries), kept_(context.folders.program), indexes_(context, state, kept_)
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
    localChunks([this] { plan(); });
}

void ChunkRoute::estimated(qint64 bytes)
{
    const Cost cost = std::move(b_->cost);
    b_.reset();
    cost(bytes);
}

void ChunkRoute::end(Result<ObtainedFile> result)
{
    const Done done = std::move(b_->done);
    b_.reset();
    done(std::move(result));
}

void ChunkRoute::fail(const QString& subject, const QString& reason)
{
    end(Result<ObtainedFile>::failure(c_.report.fail(subject, reason).error()));
}

// Where the new file's chunks are on the disk: installed files whose kept lists were cut with the
// index's sizes and that are unchanged since, the old copy of this file first (chunked now when
// it has no list).
void ChunkRoute::localChunks(const std::function<void()>& then)
{
    const auto others = [this, then] {
        if (!holders_) {
            holders_.emplace();
            for (qsizetype i = 0; i < entries_.size(); ++i)
                if (const InstalledState::Entry* recorded = state_.find(entries_[i].entry.listed);
                    recorded && kept_.has(recorded->sha256))
                    *holders_ << i;
        }
        for (const qsizetype i : std::as_const(*holders_))
            if (i != b_->i)
                addKept(entries_[i]);
        then();
    };
    if (addKept(*b_->planned))
        return others();
    chunkOldCopy(others);
}

bool ChunkRoute::addKept(const PlannedEntry& from)
{
    const InstalledState::Entry* recorded = state_.find(from.entry.listed);
    const std::shared_ptr<const ChunkList> list = recorded ? kept_.find(recorded->sha256) : nullptr;
    if (!list || list->params != b_->index.params)
        return false;
    const QString path = from.entry.path.installPath(c_.folders.installBase);
    if (IdentityOf(path) != std::optional<FileIdentity>(recorded->identity))
        return false;
    addLocalChunks(b_->local, path, list->file);
    return true;
}

// The old copy of the file without a kept list is read once to make one, on a thread of its own.
// Its SHA-256 is the record's while the file is unchanged since it was hashed (checked again
// afterwards).
void ChunkRoute::chunkOldCopy(const std::function<void()>& then)
{
    const QString old = b_->planned->entry.path.installPath(c_.folders.installBase);
    const std::optional<FileIdentity> before = IdentityOf(old);
    if (!before || before->size == 0)
        return then();
    const InstalledState::Entry* recorded = state_.find(b_->planned->entry.listed);
    const QByteArray known = recorded && recorded->identity == *before ? recorded->sha256 : QByteArray();
    const ChunkParams params = b_->index.params;
    tasks_.run<Result<FileChunks>>([old, params, known] { return chunkFile(old, params, known.isEmpty()); },
                                   [this, old, before, known, params, then](Result<FileChunks> chunked) {
                                       if (chunked && (known.isEmpty() || IdentityOf(old) == before)) {
                                           FileChunks chunks = std::move(chunked).value();
                                           if (!known.isEmpty())
                                               chunks.fileHash = known;
                                           else  // the copy's list is found again without reading it
                                               state_.record(b_->planned->entry.listed, *before, chunks.fileHash);
                                           addLocalChunks(b_->local, old, chunks);
                                           if (!c_.checkOnly)
                                               kept_.keep({params, std::move(chunks)});
                                       }
                                       then();
                                   });
}

// The chunks to fetch, when they cost fewer bytes than the whole file (the index's own bytes
// count too).
void ChunkRoute::plan()
{
    const qint64 size = b_->planned->entry.size;
    if (b_->cost)  // a check looks for the chunks an earlier run kept in the installation's download folder
        return estimated(ChunkEstimate::of(b_->index, b_->local, c_.folders.previous).cost(b_->indexBytes, size));
    const ChunkEstimate plan = ChunkEstimate::of(b_->index, b_->local, c_.folders.download);
    if (plan.declines(b_->indexBytes, size))
        return end(ObtainedFile{});
    for (const ChunkIndexEntry& chunk : plan.missing)
        chunkFiles_ << chunk.hash;
    b_->total = plan.fetchBytes;
    c_.host.fileStarted(b_->planned->entry.listed, plan.fetchBytes);
    fetch(plan.toFetch);
}

// All at once, before everything else in the queue (the engine runs as many as the protocol
// allows); a chunk that fails at a source is asked of another, and the file fails only when no
// source is left.
void ChunkRoute::fetch(const QList<ChunkIndexEntry>& chunks)
{
    if (chunks.isEmpty())
        return assemble();
    b_->outstanding = int(chunks.size());
    for (const ChunkIndexEntry& chunk : chunks) {
        DownloadQueue::Fetch fetch;
        fetch.name = ChunkStore::objectName(chunk.hash);
        fetch.file = chunkPath(chunk.hash);
        fetch.maxSize = chunk.storedLength;
        fetch.durable = false;  // checked when used: a chunk lost in a crash is fetched again
        fetch.order = DownloadQueue::Order::Now;
        const qint64 length = chunk.storedLength;
        fetch.check = [length](const DownloadQueue::Outcome& outcome) {
            const qint64 got = DownloadFileSize(outcome.file);
            return got == length ? QString() : QStringLiteral("received %1 bytes, the index says %2").arg(got).arg(length);
        };
        c_.queue.start(std::move(fetch), [this, chunk](const DownloadQueue::Outcome& o) { chunkArrived(chunk, o); });
    }
}

void ChunkRoute::chunkArrived(const ChunkIndexEntry& chunk, const DownloadQueue::Outcome& outcome)
{
    if (!b_ || b_->outstanding == 0)
        return;  // the build already failed
    if (!outcome.succeeded) {
        b_->outstanding = 0;
        return fail(outcome.url, outcome.error);
    }
    fetchedNow_.insert(chunk.hash, {outcome.url, outcome.source});
    b_->fetched += chunk.storedLength;
    c_.host.fileProgress(b_->total, b_->fetched);
    if (--b_->outstanding == 0)
        assemble();
}

// One pass over the chunks into the built file, on a thread of its own. The file's hash is taken
// of the bytes as they are written, into a file this run created empty: what is installed is
// what was checked once the file holds just those bytes and they are on disk for good.
void ChunkRoute::assemble()
{
    const QString shown = b_->planned->entry.path.url(c_.queue.sources().prefix(0));
    QString why;
    const int fd = OpenDownloadFile(builtPath(), false, &why);
    if (fd < 0)
        return fail(shown, QStringLiteral("cannot create file: ") + why);
    auto index = std::make_shared<ChunkIndex>(b_->index);
    auto local = std::make_shared<LocalChunks>(b_->local);
    const QString folder = c_.folders.download;
    tasks_.run<Built>(
        [fd, index, local, folder] {
            Built built;
            built.assembly = assembleInto(fd, *index, *local, folder);
            struct stat status {};
            if (const Status synced = platform::syncFileData(fd); !synced)
                built.syncFailure = synced.error();
            else if (::fstat(fd, &status) == 0)
                built.onDisk = status.st_size;
            ::close(fd);
            return built;
        },
        [this](Built built) { assembled(std::move(built)); });
}

void ChunkRoute::assembled(Built built)
{
    if (!b_)
        return;
    const QString shown = b_->planned->entry.path.url(c_.queue.sources().prefix(0));
    if (!built.assembly)
        return fail(shown, QStringLiteral("cannot write file: ") + built.assembly.error());
    if (!built.syncFailure.isEmpty())
        return fail(shown, QStringLiteral("cannot write file: ") + built.syncFailure);
    const Assembly& result = built.assembly.value();
    if (!result.problems.isEmpty())
        return fetchAgain(result.problems);
    if (built.onDisk != result.size)
        return fail(shown, QStringLiteral("cannot write file: it holds %1 bytes, %2 were written").arg(built.onDisk).arg(result.size));
    if (result.size != b_->planned->entry.size || result.fileHash != *b_->planned->digest)
        return fail(c_.queue.sources().url(0, ChunkStore::indexName(*b_->planned->digest)),
                    QStringLiteral("hash mismatch (the chunks do not make the file the checksum list names)"));
    c_.host.fileProgress(b_->total, b_->total);
    end(ObtainedFile{builtPath(), result.fileHash});
}

// A chunk fetched by this run that is refused drops the source that served it (the file stops
// when no source is left); a chunk kept from an earlier run that is bad, or a local copy changed
// since it was listed, is fetched now. Builds again after a source was dropped are bounded by the
// sources, not counted.
void ChunkRoute::fetchAgain(const QList<AssemblyProblem>& problems)
{
    const ChunkIndex& index = b_->index;
    QList<ChunkIndexEntry> again;
    QSet<QByteArray> seen;
    bool dropped = false;
    SiteSources& sources = c_.queue.sources();
    for (const AssemblyProblem& problem : problems) {
        const ChunkIndexEntry& chunk = index.chunks[problem.chunk];
        if (seen.contains(chunk.hash))
            continue;
        seen.insert(chunk.hash);
        QFile::remove(chunkPath(chunk.hash));
        if (problem.fetched && fetchedNow_.contains(chunk.hash)) {
            const Served served = fetchedNow_.take(chunk.hash);
            const QString why = QStringLiteral("chunk %1 of %2 refused: %3")
                                    .arg(problem.chunk + 1)
                                    .arg(index.chunks.size())
                                    .arg(problem.reason);
            if (sources.alive(served.source)) {
                c_.queue.dropSource(served.source, why);
                dropped = true;
            }
            if (sources.aliveCount() == 0)
                return fail(served.url, why);
        }
        b_->local.remove(chunk.hash);
        again << chunk;
    }
    if (!dropped && ++b_->round > MaxBuilds)
        return fail(b_->planned->entry.path.url(sources.prefix(0)), QStringLiteral("its chunks keep changing on the disk"));
    qint64 more = 0;
    for (const ChunkIndexEntry& chunk : again)
        more += chunk.storedLength;
    b_->total = b_->fetched + more;
    fetch(again);
}

void ChunkRoute::installed(qsizetype i, const QByteArray& digest)
{
    if (!builtFrom_ || builtFrom_->fileHash != digest)
        return;
    kept_.keepIndex(*builtFrom_);
    if (holders_)
        *holders_ << i;
    for (const QByteArray& hash : std::as_const(chunkFiles_))
        QFile::remove(chunkPath(hash));
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

QString ChunkRoute::chunkPath(const QByteArray& hash) const { return ChunkEstimate::keptPath(c_.folders.download, hash); }

QString ChunkRoute::builtPath() const
{
    return c_.folders.download + QLatin1Char('/') + QString::fromLatin1(b_->planned->digest->toHex()) +
           QStringLiteral(".built");
}
