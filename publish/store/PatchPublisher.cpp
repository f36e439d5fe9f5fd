#include "store/PatchPublisher.h"

#include "AtomicFile.h"
#include "common/PublishError.h"
#include "common/SiteFileReading.h"
#include "store/ChunkIndexes.h"
#include "chunk/ChunkStore.h"
#include "patch/PatchMaker.h"
#include "patch/PatchName.h"
#include "site/Sums.h"
#include "trust/Sha256.h"

#include <QDir>
#include <QFileInfo>
#include <QSet>
#include <QThread>

#include <algorithm>
#include <atomic>

namespace {

// The bytes of the file's chunks that the index of the old content does not name.
std::optional<qint64> newChunkBytes(const QString& releases, const QByteArray& oldDigest, const QByteArray& newDigest,
                                    qint64 size)
{
    const Result<ReadIndex> updated = readChunkIndex(releases + '/' + ChunkStore::indexName(newDigest), newDigest, size);
    if (!updated)
        return std::nullopt;
    QSet<QByteArray> old;
    const Result<QByteArray> oldBytes = readSiteFile(releases + '/' + ChunkStore::indexName(oldDigest), SiteFileLimit);
    if (const Result<ChunkIndex> oldIndex = oldBytes ? ChunkIndex::parse(*oldBytes) : Result<ChunkIndex>::failure({}))
        for (const ChunkIndexEntry& entry : oldIndex->chunks)
            old.insert(entry.hash);
    qint64 bytes = 0;
    for (const ChunkIndexEntry& entry : updated->index.chunks)
        if (!old.contains(entry.hash))
            bytes += entry.storedLength;
    return bytes;
}

// The memory making a patch between files of these sizes may take at its peak (see the header).
qint64 makingNeed(qint64 oldSize, qint64 newSize)
{
    constexpr qint64 Base = qint64(64) << 20;
    return 4 * std::min(oldSize, PatchPublisher::MaxFileSize) + 8 * newSize + Base;
}

}  // namespace

PatchPublisher::PatchPublisher(const QString& releasesDir, qint64 chunkMinSize, bool dryRun)
    : releases_(releasesDir), chunkMinSize_(dryRun ? 0 : chunkMinSize)
{
}

PatchPublisher::~PatchPublisher()
{
    for (std::thread& worker : workers_)
        worker.join();
}

void PatchPublisher::add(const QString& file, const QString& oldCopy, const QByteArray& oldDigest,
                         const QString& newCopy, const QByteArray& newDigest, qint64 size, From from)
{
    if (chunkMinSize_ <= 0 || oldDigest.isEmpty() || oldDigest == newDigest)
        return;
    Job job;
    job.file = file;
    job.oldCopy = oldCopy;
    job.newCopy = newCopy;
    job.oldDigest = oldDigest;
    job.newDigest = newDigest;
    job.size = size;
    job.from = from;
    const QByteArray pair = oldDigest + newDigest;
    if (const auto maker = pairs_.constFind(pair); maker != pairs_.constEnd())
        job.sameAs = *maker;
    else
        pairs_.insert(pair, jobs_.size());
    jobs_.append(std::move(job));
}

// One worker per core, each taking the next file; jobs_ stays as it is until finish().
void PatchPublisher::start()
{
    if (jobs_.isEmpty())
        return;
    auto next = std::make_shared<std::atomic<qsizetype>>(0);
    const int count = int(std::min<qsizetype>(std::max(1, QThread::idealThreadCount()), jobs_.size()));
    for (int w = 0; w < count; ++w)
        workers_.emplace_back([this, next] {
            for (qsizetype i = (*next)++; i < jobs_.size(); i = (*next)++) {
                if (jobs_[i].sameAs < 0)
                    make(jobs_[i]);
            }
        });
}

// Writes the patch into the store when it is smaller than the file; a file that can't be read
// as expected (the previous copy gone or changed) or patched gets none.
void PatchPublisher::make(Job& job)
{
    if (job.size > MaxFileSize)
        return;  // the memory a patch of it takes to make is not bounded enough
    const QString name = releases_ + '/' + patchSiteName(job.oldDigest, job.newDigest);
    if (const Result<QByteArray> stored = readSiteFile(name, job.size)) {
        job.patchSize = stored->size();
        job.patchHash = Sha256::hash(*stored);
        return;
    }
    const MemoryBudget::Lease lease(memory_, makingNeed(QFileInfo(job.oldCopy).size(), job.size));
    const Result<QByteArray> old = readSiteFile(job.oldCopy, MaxFileSize);
    const Result<QByteArray> updated = readSiteFile(job.newCopy, MaxFileSize);
    if (!old || !updated || Sha256::hash(*old) != job.oldDigest || Sha256::hash(*updated) != job.newDigest)
        return;
    const Result<QByteArray> patch = makePatch(*old, *updated);
    if (!patch || patch->size() >= job.size)
        return;
    QDir().mkpath(QFileInfo(name).path());
    if (const Status written = replaceFile(name, *patch); !written) {
        job.failure = written.error();
        return;
    }
    job.patchSize = patch->size();
    job.patchHash = Sha256::hash(*patch);
}

qint64 PatchPublisher::otherwiseCost(const Job& job) const
{
    if (job.size < chunkMinSize_)
        return job.size;
    return newChunkBytes(releases_, job.oldDigest, job.newDigest, job.size).value_or(job.size);
}

QByteArray PatchPublisher::finish(PatchSummary& summary)
{
    summary = {};
    summary.enabled = chunkMinSize_ > 0;
    for (std::thread& worker : workers_)
        worker.join();
    workers_.clear();
    QByteArray lines;
    for (Job& job : jobs_) {
        if (job.sameAs >= 0) {
            job.patchSize = jobs_[job.sameAs].patchSize;
            job.patchHash = jobs_[job.sameAs].patchHash;
        }
        if (!job.failure.isEmpty())
            throw PublishError{releases_ + '/' + patchSiteName(job.oldDigest, job.newDigest), job.failure};
        count(job, summary, lines);
    }
    return lines;
}

// The cheaper of the patch and the other way (chunks, or the whole file), listed once for each
// pair of contents; the files of the previous release counted by the way they come.
void PatchPublisher::count(const Job& job, PatchSummary& summary, QByteArray& lines) const
{
    const qint64 otherwise = otherwiseCost(job);
    const bool patched = job.patchSize >= 0 && job.patchSize < otherwise;
    if (patched && job.sameAs < 0) {
        lines += Sums::formatLine(job.patchHash, patchSiteName(job.oldDigest, job.newDigest).toLatin1());
        if (job.from == From::BeforePrevious) {
            ++summary.olderPatched;
            summary.olderPatchBytes += job.patchSize;
        }
    }
    if (job.from != From::Previous)
        return;
    PatchSummary::FileCost cost{job.file, PatchSummary::Route::Whole, job.size};
    if (patched) {
        cost = {job.file, PatchSummary::Route::Patch, job.patchSize};
        ++summary.patched;
        summary.patchBytes += cost.bytes;
    } else if (job.size >= chunkMinSize_ && otherwise < job.size) {
        cost = {job.file, PatchSummary::Route::Chunks, otherwise};
        ++summary.chunked;
        summary.chunkBytes += otherwise;
    } else {  // renewel declines chunks that cost as much as the file
        ++summary.whole;
        summary.wholeBytes += job.size;
    }
    summary.files.append(cost);
    if (job.size >= LowReuseFrom && cost.bytes * 2 >= job.size)
        summary.lowReuse.append({job.file, cost.bytes, job.size});
}
