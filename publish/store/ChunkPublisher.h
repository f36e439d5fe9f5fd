#pragma once
// Publishing into the site's chunk store. The store is kept once for all releases, in
// SITE_DIR.releases/chunks, and each release holds "chunks" as a relative link to it, so the site
// serves <site>/chunks/... and no chunk is copied per release. Each release file of at least the
// minimum size gets a chunk index (ChunkStoreWriter); update.sums lists the index, so the
// signature covers it.
//
// A file whose content already has a sound index in the store (unchanged since the last publish,
// or back to an earlier content) is not read: the index is read back instead. The others are
// chunked from their copy in the new release, which the copy has just left in the page cache, on
// worker threads while the next files are copied. Every object is written through a temporary
// file and a rename, so a failed run leaves the store usable; what it wrote and no list names is
// harmless.
//
// Each indexed content also gets its pack (ChunkStore::packName): its chunks' stored bytes back to
// back, for a player to fetch with range requests.
//
// A file whose content changed since the previous release also gets the delta from the previous
// content's index to the new one (ChunkIndexDelta), so that a player updating from that release
// fetches a few entries rather than the whole index.

#include "chunk/ChunkIndex.h"
#include "common/ProgressMeter.h"

#include <QByteArray>
#include <QList>
#include <QSet>
#include <QString>

#include <condition_variable>
#include <deque>
#include <mutex>
#include <thread>
#include <vector>

struct ChunkStoreSummary {
    bool enabled = false;
    qint64 chunksWritten = 0;
    qint64 bytesWritten = 0;  // compressed
    qint64 chunksKept = 0;    // named by this release, already in the store
    qint64 bytesKept = 0;
};

class ChunkPublisher {
public:
    static constexpr qint64 DefaultMinSize = 1024 * 1024;

    // minSize 0 turns the store off, and a dry run writes nothing to it: add and finish then do
    // nothing.
    ChunkPublisher(const QString& releasesDir, qint64 minSize, bool dryRun);
    ~ChunkPublisher();
    ChunkPublisher(const ChunkPublisher&) = delete;
    ChunkPublisher& operator=(const ChunkPublisher&) = delete;

    // Queues a published file: its copy in the new release, SHA-256 and size, and the SHA-256 of
    // its content in the previous release (empty when it had none). Throws the PublishError of a
    // file that failed before.
    void add(const QString& copy, const QByteArray& digest, qint64 size, const QByteArray& previous = {});
    // Waits for every file (reporting to progress) and returns the lines update.sums lists the
    // indexes with. Throws PublishError.
    QByteArray finish(ChunkStoreSummary& summary, ProgressMeter& progress = ProgressMeter::silent());

private:
    struct Job {
        QString copy;
        QByteArray digest;
        qint64 size = 0;
        QByteArray previous;
    };
    struct Done {
        qint64 size = 0;  // the file's
        QString indexName;
        QByteArray indexHash;
        QList<QByteArray> chunks;  // SHA-256 of each chunk
        QList<quint32> storedLengths;
        qint64 chunksWritten = 0;
        qint64 bytesWritten = 0;
    };

    void work();
    Done store(class ChunkStoreWriter& writer, const Job& job) const;
    // Whether every chunk the index names is in the store at its stored length.
    bool chunksStored(const ChunkIndex& index) const;
    void writeDelta(const Job& job, const ChunkIndex& index) const;
    void writePack(class ChunkStoreWriter& writer, const Job& job, const ChunkIndex& index) const;
    void throwFailure();
    void waitForWorkers(ProgressMeter& progress);
    QByteArray sumsLines(ChunkStoreSummary& summary);

    QString releases_;
    qint64 minSize_;
    std::mutex mutex_;
    std::condition_variable wake_;
    std::condition_variable doneWake_;
    std::deque<Job> queue_;
    QSet<QByteArray> digests_;  // of the files queued
    int busy_ = 0;
    qint64 pendingBytes_ = 0;  // of the files queued or being stored
    bool closing_ = false;
    QString failedSubject_;
    QString failure_;
    QList<Done> done_;
    std::vector<std::thread> workers_;
};
