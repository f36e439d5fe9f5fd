#pragma once
// Binary patches in the site's chunk store (chunks/patches/<old>-<new>.patch, see patchFileName),
// for players who hold the previous release: each changed file whose previous copy the current
// release still has gets a patch from that copy, made on worker threads while the chunk store is
// written. A patch is listed in update.sums (so the signature covers it) only when it costs fewer
// bytes than what the player would fetch otherwise: the file's chunks that the previous content's
// index does not have, or the whole file when the file has no index. Files over MaxFileSize (old
// or new) get no patch: making one holds both files and a suffix array of the old in memory.
// A patch already in the store for the same pair of contents is not made again.


#include <QByteArray>
#include <QList>
#include <QSet>
#include <QString>

#include <thread>
#include <vector>

// What the changed files cost a player of the previous release, by the way each comes.
struct PatchSummary {
    bool enabled = false;
    int patched = 0, chunked = 0, whole = 0;
    qint64 patchBytes = 0, chunkBytes = 0, wholeBytes = 0;
    // Big changed files of which players download at least half however they come (compressed
    // or encrypted packs reuse little): worth a warning before the release is pushed.
    struct LowReuse {
        QString file;  // as the release names it
        qint64 cost = 0, size = 0;
    };
    QList<LowReuse> lowReuse;
};

class PatchPublisher {
public:
    static constexpr qint64 MaxFileSize = qint64(256) << 20;
    // Changed files from this size on are warned about when they reuse little.
    static constexpr qint64 LowReuseFrom = qint64(16) << 20;

    // chunkMinSize: the chunk store's (0: no store, and no patches); a dry run makes none.
    PatchPublisher(const QString& releasesDir, qint64 chunkMinSize, bool dryRun);
    ~PatchPublisher();
    PatchPublisher(const PatchPublisher&) = delete;
    PatchPublisher& operator=(const PatchPublisher&) = delete;

    // Queues a changed file: its previous copy and that content's SHA-256, its new copy, SHA-256
    // and size.
    // Files over MaxFileSize get no patch, but their cost is counted.
    void add(const QString& file, const QString& oldCopy, const QByteArray& oldDigest, const QString& newCopy,
             const QByteArray& newDigest, qint64 size);
    // Starts making the queued patches.
    void start();
    // Once the chunk store's indexes are written: waits for the patches and returns the lines
    // update.sums lists the cheaper ones with. Throws PublishError when one can't be stored.
    QByteArray finish(PatchSummary& summary);

private:
    struct Job {
        QString file, oldCopy, newCopy;
        QByteArray oldDigest, newDigest;
        qint64 size = 0;
        qint64 patchSize = -1;   // none made
        QByteArray patchHash;
        QString failure;
    };

    void make(Job& job) const;
    void count(const Job& job, PatchSummary& summary, QByteArray& lines) const;
    qint64 otherwiseCost(const Job& job) const;

    QString releases_;
    qint64 chunkMinSize_;
    QList<Job> jobs_;
    QSet<QByteArray> pairs_;  // old and new SHA-256 of the jobs: each pair once
    std::vector<std::thread> workers_;
};
