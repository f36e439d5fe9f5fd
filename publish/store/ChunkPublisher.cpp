#include "store/ChunkPublisher.h"

#include "AtomicFile.h"
#include "common/PublishError.h"
#include "common/SiteFileReading.h"
#include "store/ChunkIndexes.h"
#include "chunk/ChunkIndexDelta.h"
#include "chunk/ChunkStore.h"
#include "chunk/ChunkStoreWriter.h"
#include "site/Sums.h"

#include <QFile>
#include <QFileInfo>
#include <QSet>
#include <QThread>

#include <algorithm>
#include <chrono>


namespace {

const ChunkParams Params = ChunkParams::forAverage(32 * 1024);

}  // namespace

ChunkPublisher::ChunkPublisher(const QString& releasesDir, qint64 minSize, bool dryRun)
    : releases_(releasesDir), minSize_(dryRun ? 0 : minSize)
{
}

ChunkPublisher::~ChunkPublisher()
{
    {
        const std::lock_guard lock(mutex_);
        closing_ = true;
        queue_.clear();
    }
    wake_.notify_all();
    for (std::thread& worker : workers_)
        worker.join();
}

void ChunkPublisher::add(const QString& copy, const QByteArray& digest, qint64 size, const QByteArray& previous)
{
    if (minSize_ <= 0 || size < minSize_)
        return;
    {
        const std::lock_guard lock(mutex_);
        if (!failure_.isEmpty())
            throwFailure();
        // Files with the same content share one index: stored once.
        if (digests_.contains(digest))
            return;
        digests_.insert(digest);
        queue_.push_back({copy, digest, size, previous});
        pendingBytes_ += size;
        // One worker per core; the copying on this thread waits on the disk much of the time.
        if (workers_.size() < size_t(std::max(1, QThread::idealThreadCount())))
            workers_.emplace_back([this] { work(); });
    }
    wake_.notify_one();
}

void ChunkPublisher::throwFailure() { throw PublishError{failedSubject_, failure_}; }

void ChunkPublisher::work()
{
    ChunkStoreWriter writer(releases_, Params);
    std::unique_lock lock(mutex_);
    for (;;) {
        wake_.wait(lock, [this] { return closing_ || !queue_.empty(); });
        if (queue_.empty())
            return;
        const Job job = queue_.front();
        queue_.pop_front();
        ++busy_;
        lock.unlock();
        Done done;
        QString failure;
        try {
            done = store(writer, job);
        } catch (const PublishError& error) {
            failure = error.reason;
        } catch (const std::exception& error) {
            failure = QString::fromLocal8Bit(error.what());
        }
        lock.lock();
        --busy_;
        pendingBytes_ -= job.size;
        if (failure.isEmpty()) {
            done_.append(std::move(done));
        } else if (failure_.isEmpty()) {
            failedSubject_ = job.copy;
            failure_ = failure;
            queue_.clear();
        }
        doneWake_.notify_all();
    }
}

ChunkPublisher::Done ChunkPublisher::store(ChunkStoreWriter& writer, const Job& job) const
{
    Done done;
    done.size = job.size;
    done.indexName = ChunkStore::indexName(job.digest);
    // An index already in the store for this content (a file unchanged since the last publish)
    // spares reading the file when its chunks are there at their lengths; one that is unsound,
    // or names a chunk a crash cut short, is written again with its chunks.
    if (Result<ReadIndex> read = readChunkIndex(releases_ + '/' + done.indexName, job.digest, job.size);
        read && read->index.params == Params && chunksStored(read->index)) {
        done.indexHash = read->hash;
        for (const ChunkIndexEntry& entry : read->index.chunks) {
            done.chunks.append(entry.hash);
            done.storedLengths.append(entry.storedLength);
        }
        writeDelta(job, read->index);
        writePack(writer, job, read->index);
        return done;
    }
    const Result<StoredFile> stored = writer.addFile(job.copy);
    if (!stored)
        throw PublishError{job.copy, stored.error()};
    if (stored->index.fileHash != job.digest || stored->index.fileSize != job.size)
        throw PublishError{job.copy, QStringLiteral("changed while it was published")};
    done.indexHash = stored->indexHash;
    for (const ChunkIndexEntry& entry : stored->index.chunks) {
        done.chunks.append(entry.hash);
        done.storedLengths.append(entry.storedLength);
    }
    done.chunksWritten = stored->chunksWritten;
    done.bytesWritten = stored->bytesWritten;
    writeDelta(job, stored->index);
    writePack(writer, job, stored->index);
    return done;
}

// The pack a player fetches many chunks from in one request (kept when already there).
void ChunkPublisher::writePack(ChunkStoreWriter& writer, const Job& job, const ChunkIndex& index) const
{
    if (const Status written = writer.writePack(index); !written)
        throw PublishError{job.copy, written.error()};
}

bool ChunkPublisher::chunksStored(const ChunkIndex& index) const
{
    for (const ChunkIndexEntry& entry : index.chunks) {
        const RegularFile chunk = openSiteFile(releases_ + '/' + ChunkStore::objectName(entry.hash));
        if (!chunk || chunk.size() != qint64(entry.storedLength))
            return false;
    }
    return true;
}

// The delta from the previous content's index in the store, once for each pair of contents.
void ChunkPublisher::writeDelta(const Job& job, const ChunkIndex& index) const
{
    if (job.previous.isEmpty() || job.previous == job.digest)
        return;
    const QString name = releases_ + '/' + ChunkStore::deltaName(job.digest, job.previous);
    if (QFileInfo::exists(name))
        return;
    const Result<QByteArray> oldBytes = readSiteFile(releases_ + '/' + ChunkStore::indexName(job.previous), SiteFileLimit);
    if (!oldBytes)
        return;  // the previous content was not chunked
    const Result<ChunkIndex> old = ChunkIndex::parse(*oldBytes);
    if (!old || old->fileHash != job.previous)
        return;  // an unsound index helps no player
    if (const Status written = replaceFile(name, makeDelta(*old, *oldBytes, index)); !written)
        throw PublishError{name, written.error()};
}

QByteArray ChunkPublisher::finish(ChunkStoreSummary& summary, ProgressMeter& progress)
{
    summary = {};
    if (minSize_ <= 0)
        return {};
    summary.enabled = true;
    waitForWorkers(progress);
    return sumsLines(summary);
}

void ChunkPublisher::waitForWorkers(ProgressMeter& progress)
{
    {
        std::unique_lock lock(mutex_);
        const qsizetype before = done_.size();
        ProgressMeter::Phase phase(progress, int(queue_.size()) + busy_, pendingBytes_);
        closing_ = true;
        wake_.notify_all();
        // Wakes at least five times a second so that the progress line moves.
        for (qsizetype shown = before; failure_.isEmpty() && (!queue_.empty() || busy_ > 0 || shown < done_.size());) {
            if (shown == done_.size())
                doneWake_.wait_for(lock, std::chrono::milliseconds(200));
            for (; shown < done_.size(); ++shown)
                phase.advance(done_[shown].size);
        }
        phase.end();
        if (!failure_.isEmpty())
            throwFailure();
    }
    for (std::thread& worker : workers_)
        worker.join();
    workers_.clear();
}

// Lines in the order of the index names (each content was queued once); chunks counted once
// however many files share them.
QByteArray ChunkPublisher::sumsLines(ChunkStoreSummary& summary)
{
    std::sort(done_.begin(), done_.end(), [](const Done& a, const Done& b) { return a.indexName < b.indexName; });
    QByteArray lines;
    QSet<QByteArray> chunks;
    qint64 chunkCount = 0, chunkBytes = 0;
    for (const Done& done : std::as_const(done_)) {
        summary.chunksWritten += done.chunksWritten;
        summary.bytesWritten += done.bytesWritten;
        lines += Sums::formatLine(done.indexHash, done.indexName.toLatin1());
        for (qsizetype i = 0; i < done.chunks.size(); ++i) {
            if (!chunks.contains(done.chunks[i])) {
                chunks.insert(done.chunks[i]);
                ++chunkCount;
                chunkBytes += done.storedLengths[i];
            }
        }
    }
    summary.chunksKept = std::max<qint64>(0, chunkCount - summary.chunksWritten);
    summary.bytesKept = std::max<qint64>(0, chunkBytes - summary.bytesWritten);
    return lines;
}
