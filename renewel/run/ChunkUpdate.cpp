#include "run/ChunkUpdate.h"

#include "chunk/ChunkStore.h"
#include "chunk/FileAssembler.h"
#include "net/DownloadFile.h"
#include "net/SiteSources.h"
#include "run/InstalledState.h"
#include "run/UpdateFiles.h"
#include "run/UpdateHost.h"
#include "site/Sums.h"
#include "trust/Sha256.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QFile>

#include <atomic>
#include <thread>
#include <sys/stat.h>
#include <unistd.h>

namespace {
// Chunk downloads go before everything else in the queue (the lists' keys are -2 and -1, the
// entries' their places): they are started only for the entry being installed.
constexpr qsizetype FirstChunkKey = -(qsizetype(1) << 61);
// Local chunks that turned out changed, or kept chunks that turned out bad, are fetched and the
// file built again; a source that keeps changing stops the file after this many tries.
constexpr int MaxBuilds = 3;

// Runs work on its own thread while this one handles events; returns once it has ended.
void runAside(const std::function<void()>& work)
{
    std::atomic<bool> done{false};
    QEventLoop loop;
    std::thread worker([&] {
        work();
        done = true;
        QMetaObject::invokeMethod(&loop, [&loop] { loop.quit(); }, Qt::QueuedConnection);
    });
    while (!done) {
        loop.exec();
        // After an application quit, Qt's loops return at once: wait for the next event instead.
        if (!done)
            QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
    }
    worker.join();
}
}  // namespace

ChunkUpdate::ChunkUpdate(Context context)
    : c_(std::move(context)), kept_(c_.programFolder), nextKey_(FirstChunkKey)
{
}


std::optional<QString> ChunkUpdate::Build(const UpdateEntry& entry, const DownloadQueue::Job& indexJob)
{
    chunkFiles_.clear();
    qint64 indexBytes = 0;
    index_ = obtainIndex(entry, indexJob, indexBytes);
    if (!index_)
        return std::nullopt;
    const ChunkIndex& index = *index_;
    LocalChunks local = localChunks(entry, index.params);
    c_.checkCancelled();
    const QList<ChunkIndexEntry> missing = planFetch(index, local).missing;
    const QList<ChunkIndexEntry> toFetch = notKept(missing);
    qint64 total = 0;
    for (const ChunkIndexEntry& chunk : toFetch)
        total += chunk.storedLength;
    if (total + indexBytes >= entry.size)  // the index's own bytes count too
        return std::nullopt;
    for (const ChunkIndexEntry& chunk : missing)
        chunkFiles_ << chunk.hash;

    c_.host.FileStarted(entry.listed, total);
    qint64 done = 0;
    fetch(toFetch, done, total);
    const QString built = assemble(entry, index.fileHash, local, done);
    c_.host.FileProgress(total, total);
    return built;
}

// Where the new file's chunks are on the disk: installed files whose kept lists were cut with the
// index's sizes and that are unchanged since, the old copy of this file first (chunked now when
// it has no list).
LocalChunks ChunkUpdate::localChunks(const UpdateEntry& entry, const ChunkParams& params)
{
    LocalChunks local;
    const auto add = [&](const UpdateEntry& from) {
        const InstalledState::Entry* recorded = c_.state.Find(from.listed);
        const std::shared_ptr<const ChunkList> list = recorded ? kept_.Find(recorded->sha256) : nullptr;
        if (!list || list->params != params)
            return false;
        const QString path = from.path.installPath(c_.installBase);
        if (IdentityOf(path) != std::optional<FileIdentity>(recorded->identity))
            return false;
        addLocalChunks(local, path, list->file);
        return true;
    };
    if (!add(entry))
        chunkOldCopy(entry, params, local);
    if (!holders_) {
        holders_.emplace();
        for (qsizetype i = 0; i < c_.entries.size(); ++i)
            if (const InstalledState::Entry* recorded = c_.state.Find(c_.entries[i].listed); recorded && kept_.Has(recorded->sha256))
                *holders_ << i;
    }
    for (const qsizetype i : std::as_const(*holders_))
        if (&c_.entries[i] != &entry)
            add(c_.entries[i]);
    return local;
}

// The old copy of the file without a kept list is read once to make one. Its SHA-256 is the
// record's while the file is unchanged since it was hashed (checked again afterwards).
void ChunkUpdate::chunkOldCopy(const UpdateEntry& entry, const ChunkParams& params, LocalChunks& local)
{
    const QString old = entry.path.installPath(c_.installBase);
    const std::optional<FileIdentity> before = IdentityOf(old);
    if (!before || before->size == 0)
        return;
    const InstalledState::Entry* recorded = c_.state.Find(entry.listed);
    // Copied: the record takes in hashes while events are handled meanwhile.
    const QByteArray known = recorded && recorded->identity == *before ? recorded->sha256 : QByteArray();
    std::optional<Result<FileChunks>> chunked;
    runAside([&] { chunked = chunkFile(old, params, known.isEmpty()); });
    if (!*chunked || (!known.isEmpty() && IdentityOf(old) != before))
        return;
    FileChunks chunks = std::move(*chunked).value();
    if (!known.isEmpty())
        chunks.fileHash = known;
    addLocalChunks(local, old, chunks);
    kept_.Keep({params, std::move(chunks)});
}

// The chunks to fetch: those not kept in the download folder by an earlier run (a kept chunk is
// checked when it is used).
QList<ChunkIndexEntry> ChunkUpdate::notKept(const QList<ChunkIndexEntry>& missing) const
{
    QList<ChunkIndexEntry> toFetch;
    for (const ChunkIndexEntry& chunk : missing)
        if (DownloadFileSize(chunkPath(chunk.hash)) != chunk.storedLength)
            toFetch << chunk;
    return toFetch;
}

// All at once on the transfer engine (the engine runs as many as the protocol allows, and tries
// transient failures again), awaited in order; a chunk that can't be had stops the run.
void ChunkUpdate::fetch(const QList<ChunkIndexEntry>& chunks, qint64& done, qint64 total)
{
    std::vector<std::pair<qsizetype, const ChunkIndexEntry*>> started;
    for (const ChunkIndexEntry& chunk : chunks) {
        started.emplace_back(nextKey_, &chunk);
        c_.queue.Start(nextKey_++, chunkJob(chunk));
    }
    for (const auto& [key, chunk] : started) {
        for (;;) {
            const DownloadQueue::Job job =
                c_.queue.Await(key, [&](qint64, qint64 readed) { c_.host.FileProgress(total, done + readed); });
            c_.checkCancelled();
            const qint64 got = job.succeeded ? DownloadFileSize(job.file) : -1;
            if (got == chunk->storedLength) {
                fetchedNow_.insert(chunk->hash, job.url);
                break;
            }
            // The source is dropped and the chunk asked of another.
            dropSource(job.url, job.succeeded ? QStringLiteral("received %1 bytes, the index says %2")
                                                    .arg(got)
                                                    .arg(chunk->storedLength)
                                              : job.error);
            QFile::remove(job.file);
            c_.queue.Start(key, chunkJob(*chunk));
        }
        done += chunk->storedLength;
        c_.host.FileProgress(total, done);
    }
}

// A chunk's download from the next source that answers.
DownloadQueue::Job ChunkUpdate::chunkJob(const ChunkIndexEntry& chunk)
{
    const SiteSources::Pick from = c_.sources.url(ChunkStore::objectName(chunk.hash));
    if (from.source < 0)
        c_.fail(c_.sources.url(0, ChunkStore::objectName(chunk.hash)), QStringLiteral("no update source is left"));
    DownloadQueue::Job job;
    job.url = from.url;
    job.file = chunkPath(chunk.hash);
    job.maxSize = chunk.storedLength;
    job.durable = false;  // checked when used: a chunk lost in a crash is fetched again
    job.retry = c_.sources.aliveCount() <= 1;  // else another source takes over at once
    return job;
}

void ChunkUpdate::dropSource(const QString& url, const QString& why)
{
    c_.sources.failed(c_.sources.sourceOf(url), why);
    if (c_.sources.aliveCount() == 0)
        c_.fail(url, why);
}

QString ChunkUpdate::siteUrl(const UpdateEntry& entry) const { return entry.path.url(c_.sources.prefix(0)); }

// Builds the file from its chunks, fetching again what turns out not to be there after all; the
// file's name in the download folder once it is whole, checked and durable.
QString ChunkUpdate::assemble(const UpdateEntry& entry, const QByteArray& digest, LocalChunks& local, qint64 done)
{
    const QString target = c_.downloadFolder + QLatin1Char('/') + QString::fromLatin1(digest.toHex()) + QStringLiteral(".built");
    // Builds again after a source was dropped are bounded by the sources, not counted here.
    for (int build = 1;; ++build) {
        const Assembly result = buildOnce(target, siteUrl(entry), local);
        if (result.problems.isEmpty()) {
            if (result.size != entry.size || result.fileHash != digest)
                c_.fail(c_.sources.url(0, ChunkStore::indexName(digest)),
                        QStringLiteral("hash mismatch (the chunks do not make the file the checksum list names)"));
            return target;
        }
        const int dropped = sourcesDropped_;
        const QList<ChunkIndexEntry> again = fetchAgain(result.problems, local);
        if (sourcesDropped_ != dropped)
            --build;
        else if (build == MaxBuilds)
            c_.fail(siteUrl(entry), QStringLiteral("its chunks keep changing on the disk"));
        qint64 more = 0;
        for (const ChunkIndexEntry& chunk : again)
            more += chunk.storedLength;
        fetch(again, done, done + more);
    }
}

// One pass over the chunks into target. The file's hash is taken of the bytes as they are
// written, into a file this run created empty: what is installed is what was checked once the
// file holds just those bytes and they are on disk for good, which is checked here.
Assembly ChunkUpdate::buildOnce(const QString& target, const QString& shown, const LocalChunks& local)
{
    QString why;
    const int fd = OpenDownloadFile(target, false, &why);
    if (fd < 0)
        c_.fail(shown, QStringLiteral("cannot create file: ") + why);
    std::optional<Result<Assembly>> assembled;
    int syncError = 0;
    qint64 onDisk = -1;
    runAside([&] {
        assembled = assembleInto(fd, *index_, local, c_.downloadFolder);
        struct stat status {};
        if (::fdatasync(fd) != 0)
            syncError = errno;
        else if (::fstat(fd, &status) == 0)
            onDisk = status.st_size;
    });
    ::close(fd);
    c_.checkCancelled();
    if (!*assembled)
        c_.fail(shown, QStringLiteral("cannot write file: ") + assembled->error());
    if (syncError)
        c_.fail(shown, QStringLiteral("cannot write file: ") + systemReason(syncError));
    Assembly result = std::move(*assembled).value();
    if (result.problems.isEmpty() && onDisk != result.size)
        c_.fail(shown, QStringLiteral("cannot write file: it holds %1 bytes, %2 were written").arg(onDisk).arg(result.size));
    return result;
}

// A chunk fetched by this run that is refused stops the file; a chunk kept from an earlier run
// that is bad, or a local copy changed since it was listed, is to be fetched now.
QList<ChunkIndexEntry> ChunkUpdate::fetchAgain(const QList<AssemblyProblem>& problems, LocalChunks& local)
{
    const ChunkIndex& index = *index_;
    QList<ChunkIndexEntry> again;
    QSet<QByteArray> seen;
    for (const AssemblyProblem& problem : problems) {
        const ChunkIndexEntry& chunk = index.chunks[problem.chunk];
        if (seen.contains(chunk.hash))
            continue;
        seen.insert(chunk.hash);
        QFile::remove(chunkPath(chunk.hash));
        // A chunk this run fetched and that is refused drops the source that served it; the run
        // stops when no source is left.
        if (problem.fetched && fetchedNow_.contains(chunk.hash)) {
            dropSource(fetchedNow_.take(chunk.hash), QStringLiteral("chunk %1 of %2 refused: %3")
                                                         .arg(problem.chunk + 1)
                                                         .arg(index.chunks.size())
                                                         .arg(problem.reason));
            ++sourcesDropped_;
        }
        local.remove(chunk.hash);
        again << chunk;
    }
    return again;
}

void ChunkUpdate::Installed(const UpdateEntry& entry, const QByteArray& digest)
{
    if (!index_ || index_->fileHash != digest)
        return;
    kept_.KeepIndex(*index_);
    if (holders_)
        *holders_ << (&entry - c_.entries.constData());
    for (const QByteArray& hash : std::as_const(chunkFiles_))
        QFile::remove(chunkPath(hash));
    chunkFiles_.clear();
    index_.reset();
}

void ChunkUpdate::Prune()
{
    QSet<QByteArray> installed;
    for (const UpdateEntry& entry : c_.entries)
        if (const InstalledState::Entry* recorded = c_.state.Find(entry.listed))
            installed.insert(recorded->sha256);
    kept_.KeepOnly(installed);
}

QString ChunkUpdate::chunkPath(const QByteArray& hash) const
{
    return c_.downloadFolder + QLatin1Char('/') + ChunkStore::objectFileName(hash);
}
