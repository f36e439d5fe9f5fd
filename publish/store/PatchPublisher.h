#pragma once
// Binary patches in the site's chunk store (chunks/patches/<old>-<new>.patch, see patchFileName),
// for players who hold the previous release, and for those who hold the release before it when
// the site still keeps it: each changed file whose older copy the release kept has gets a patch
// from that copy, made on worker threads while the chunk store is written. A patch is listed in
// update.sums (so the signature covers it; players find it there by the hashes of their installed
// content and of the new one) only when it costs fewer bytes than what the player would fetch
// otherwise: the file's chunks that the old content's index does not have, or the whole file when
// the file has no index. A patch already in the store for the same pair of contents is not made
// again; files with the same pair of contents share one.
//
// Memory: making a patch holds both files, the old file's suffix array (4 bytes per old byte),
// the diff's streams and the patches (up to about 6 bytes per new byte) and zstd's tables (which
// grow with the streams, to about 800 MiB at the highest level and long window): about
// 4 x old + 8 x new + 64 MiB, some 3 GiB for two files at MaxFileSize. Workers reserve that from
// MemoryBudgetBytes before reading the files, so however many cores there are, the patches being
// made take at most about max(MemoryBudgetBytes, one patch's need), 3 GiB: two patches of big
// files are never made at once. Files over MaxFileSize get no patch.


#include "store/MemoryBudget.h"

#include <QByteArray>
#include <QHash>
#include <QList>
#include <QString>

#include <thread>
#include <vector>

// What the changed files cost a player of the previous release, by the way each comes.
struct PatchSummary {
    bool enabled = false;
    int patched = 0, chunked = 0, whole = 0;
    qint64 patchBytes = 0, chunkBytes = 0, wholeBytes = 0;
    // Each changed file, by the cheapest way a player of the previous release obtains it.
    enum class Route { Patch, Chunks, Whole };
    struct FileCost {
        QString file;  // as the release names it
        Route route = Route::Whole;
        qint64 bytes = 0;
    };
    QList<FileCost> files;
    // Patches listed for players of the release before the previous one.
    int olderPatched = 0;
    qint64 olderPatchBytes = 0;
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
    static constexpr qint64 MemoryBudgetBytes = qint64(3) << 30;
    // Changed files from this size on are warned about when they reuse little.
    static constexpr qint64 LowReuseFrom = qint64(16) << 20;

    // Whose installed copy a patch starts from.
    enum class From { Previous, BeforePrevious };

    // chunkMinSize: the chunk store's (0: no store, and no patches); a dry run makes none.
    PatchPublisher(const QString& releasesDir, qint64 chunkMinSize, bool dryRun);
    ~PatchPublisher();
    PatchPublisher(const PatchPublisher&) = delete;
    PatchPublisher& operator=(const PatchPublisher&) = delete;

    // Queues a changed file: its older copy and that content's SHA-256, its new copy, SHA-256
    // and size. Files over MaxFileSize get no patch, but their cost is counted.
    void add(const QString& file, const QString& oldCopy, const QByteArray& oldDigest, const QString& newCopy,
             const QByteArray& newDigest, qint64 size, From from = From::Previous);
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
        From from = From::Previous;
        qsizetype sameAs = -1;   // an earlier job with the same pair of contents makes the patch
        qint64 patchSize = -1;   // none made
        QByteArray patchHash;
        QString failure;
    };

    void make(Job& job);
    void count(const Job& job, PatchSummary& summary, QByteArray& lines) const;
    qint64 otherwiseCost(const Job& job) const;

    QString releases_;
    qint64 chunkMinSize_;
    QList<Job> jobs_;
    QHash<QByteArray, qsizetype> pairs_;  // old and new SHA-256 -> the job that makes their patch
    MemoryBudget memory_{MemoryBudgetBytes};
    std::vector<std::thread> workers_;
};
