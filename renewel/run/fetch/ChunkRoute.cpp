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

#include <memory>

namespace {
// Local chunks that turned out changed, or kept chunks that turned out bad, are fetched and the
// file built again; a file whose chunks keep changing stops after this many builds.
constexpr int MaxBuilds = 3;
}  // namespace

ChunkRoute::ChunkRoute(RouteContext context, InstalledState& state, const QList<PlannedEntry>& entries, int window)
    : c_(context), state_(state), entries_(entries), kept_(context.folders.program), indexes_(context, state, kept_),
      store_(context.queue, context.folders.download, window),
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
    const Done done = std::move(b_->done);
    b_.reset();
    done(std::move(result));
}

void ChunkRoute::fail(const QString& subject, const QString& reason)
{
    end(Result<ObtainedFile>::failure(c_.report.fail(subject, reason).error()));
}

// The chunks to fetch, when they cost fewer bytes than the whole file (the index's own bytes
// count too).
void ChunkRoute::plan()
{
    const qint64 size = b_->planned->entry.size;
    if (b_->cost) {
        // A check looks for the chunks an earlier run kept in the installation's download folder.
        const ChunkFolder previous(c_.folders.previous);
        const qint64 chunks = planFetch(b_->index, store_.installed(), &previous).fetchBytes;
        return estimated(b_->indexBytes + (chunks + b_->indexBytes >= size ? size : chunks));
    }
    FetchPlan plan = store_.missing(b_->index);
    if (plan.fetchBytes + b_->indexBytes >= size)
        return end(ObtainedFile{});
    chunkFiles_ = std::move(plan.kept);
    for (const ChunkIndexEntry& chunk : std::as_const(plan.missing))
        chunkFiles_ << chunk.hash;
    b_->total = plan.fetchBytes;
    c_.host.fileStarted(b_->planned->entry.listed, plan.fetchBytes);
    fetch(std::move(plan.missing));
}

// A chunk that fails at a source is asked of another; the file fails only when no source is left.
void ChunkRoute::fetch(QList<ChunkIndexEntry> chunks)
{
    store_.fetch(
        std::move(chunks),
        [this](const ChunkIndexEntry& chunk) {
            b_->fetched += chunk.storedLength;
            c_.host.fileProgress(b_->total, b_->fetched);
        },
        [this](std::optional<RemoteChunks::Failure> failure) {
            if (failure)
                return fail(failure->url, failure->reason);
            assemble();
        });
}

// One pass over the chunks into the built file, on a thread of its own. The file's hash is taken
// of the bytes as they are written, into a file this run created empty: what is installed is
// what was checked once the file holds just those bytes and they are on disk for good.
void ChunkRoute::assemble()
{
    QString why;
    auto file = std::make_shared<FileDescriptor>(OpenDownloadFile(builtPath(), false, &why));
    if (!file->isOpen())
        return fail(shownUrl(), QStringLiteral("cannot create file: ") + why);
    auto index = std::make_shared<ChunkIndex>(b_->index);
    auto installed = std::make_shared<InstalledCopies>(store_.installed());
    const ChunkFolder folder = store_.folder();
    tasks_.run<Built>(
        [file, index, installed, folder] {
            Built built;
            built.assembly = assembleInto(file->fd(), *index, *installed, folder);
            if (const Status synced = platform::syncFileData(file->fd()); !synced)
                built.syncFailure = synced.error();
            else
                built.onDisk = platform::fileSize(file->fd());
            file->close();
            return built;
        },
        [this](Built built) { assembled(std::move(built)); });
}

void ChunkRoute::assembled(Built built)
{
    if (!b_)
        return;
    if (!built.assembly)
        return fail(shownUrl(), QStringLiteral("cannot write file: ") + built.assembly.error());
    if (!built.syncFailure.isEmpty())
        return fail(shownUrl(), QStringLiteral("cannot write file: ") + built.syncFailure);
    const Assembly& result = built.assembly.value();
    if (!result.problems.isEmpty())
        return fetchAgain(result.problems);
    if (built.onDisk != result.size)
        return fail(shownUrl(), QStringLiteral("cannot write file: it holds %1 bytes, %2 were written").arg(built.onDisk).arg(result.size));
    if (result.size != b_->planned->entry.size || result.fileHash != *b_->planned->digest)
        return fail(c_.queue.sources().url(0, ChunkStore::indexName(*b_->planned->digest)),
                    QStringLiteral("hash mismatch (the chunks do not make the file the checksum list names)"));
    c_.host.fileProgress(b_->total, b_->total);
    end(ObtainedFile{builtPath(), result.fileHash});
}

// Each chunk that could not be had is dropped from the source that failed and fetched again.
// Builds again after a source was dropped are bounded by the sources, not counted.
void ChunkRoute::fetchAgain(const QList<AssemblyProblem>& problems)
{
    ChunkSources::Refetch again = store_.refused(b_->index, problems);
    if (again.failure)
        return fail(again.failure->url, again.failure->reason);
    if (!again.sourceDropped && ++b_->round > MaxBuilds)
        return fail(shownUrl(), QStringLiteral("its chunks keep changing on the disk"));
    qint64 more = 0;
    for (const ChunkIndexEntry& chunk : std::as_const(again.chunks))
        more += chunk.storedLength;
    b_->total = b_->fetched + more;
    fetch(std::move(again.chunks));
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
