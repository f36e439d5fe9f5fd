#pragma once
// A listed file built from the site's chunk store (see ChunkStore): where update.sums lists a
// chunk index for the file's new content, the index is fetched in place of the file
// (ChunkIndexFetch). The new file is built in the download folder, each chunk written at its
// offset: first the chunks already on the disk (LocalChunkFinder: in the old copy of the file,
// and in every installed file whose chunk list is kept; those kept in the download folder; and
// those a run cut off left in place in the file itself), on a thread of its own; then the others,
// fetched from the file's pack with range requests straight into the file (PackFetch), or where
// a source takes no ranges or has no pack, as chunk objects through the download folder
// (ChunkSources). That happens when the fetch costs fewer bytes than the whole file. The file is
// then checked against its SHA-256 in update.sums and made durable. One file is built at a time:
// the one the run has reached.

#include "run/fetch/BackgroundTasks.h"
#include "run/fetch/ChunkIndexFetch.h"
#include "run/fetch/FileRoute.h"
#include "run/fetch/LocalChunkFinder.h"
#include "run/fetch/PackFetch.h"
#include "run/fetch/RouteContext.h"
#include "chunk/ChunkSources.h"
#include "run/install/InstalledChunks.h"

#include <QHash>
#include <QSet>

#include <optional>

class InstalledState;

class ChunkRoute : public FileRoute {
public:
    // window: the most chunk downloads in the queue at once.
    ChunkRoute(RouteContext context, InstalledState& state, const QList<PlannedEntry>& entries,
               int window = RemoteChunks::DefaultWindow);

    bool takes(const PlannedEntry& planned) const override { return planned.hasChunkIndex(); }
    void prepare(qsizetype i, const PlannedEntry& planned) override;
    // Fetches the index (kept for obtain) and finds the local chunks, one entry at a time.
    void estimate(qsizetype i, const PlannedEntry& planned, Cost cost) override;
    // Declines (an empty file) when the index is unusable or the whole file costs fewer bytes.
    void obtain(qsizetype i, const PlannedEntry& planned, Done done) override;

    // Entry i was installed with the content of this SHA-256: its chunk list is kept when its
    // index came, and the chunks fetched for it go.
    void installed(qsizetype i, const QByteArray& digest);
    // After a completed run: only the lists of installed listed files stay.
    void prune();

private:
    struct Build {
        qsizetype i = 0;
        const PlannedEntry* planned = nullptr;  // stays in the run's plan
        Done done;
        Cost cost;  // only the figure is wanted
        ChunkIndex index;
        qint64 indexBytes = 0;
        qint64 total = 0;    // bytes to fetch
        qint64 fetched = 0;  // of those, arrived
        int round = 0;       // fetches for the file after the first, without a source dropped
        bool filled = false; // the local chunks are in
        std::shared_ptr<const ChunkIndex> shared;  // the index, for the threads
        std::shared_ptr<FileDescriptor> file;      // the file being built
        QList<bool> present;                       // each chunk in place in it
    };

    void indexed(std::optional<ChunkIndex> index, qint64 indexBytes);
    void plan();
    void fill(bool checkExisting);
    void filled(Result<LocalFill> fill);
    void started(const QList<qsizetype>& places);
    void fetchPacks(QList<qsizetype> places);
    void packsFetched(PackFetch::Outcome outcome);
    void fetchObjects(const QList<qsizetype>& places);
    void finishFile();
    void finished(Result<QByteArray> hash);
    void progress(qint64 fetched);
    QString builtPath() const;
    QString shownUrl() const;
    void fail(const QString& subject, const QString& reason);
    void estimated(qint64 bytes);
    void end(Result<ObtainedFile> result);

    RouteContext c_;
    InstalledState& state_;
    const QList<PlannedEntry>& entries_;
    InstalledChunks kept_;
    ChunkIndexFetch indexes_;
    ChunkSources store_;
    PackFetch packs_;
    LocalChunkFinder finder_;
    QSet<qsizetype> prepared_;
    // The index (nothing: unusable) and its bytes, from the estimate until obtained.
    QHash<qsizetype, std::pair<std::optional<ChunkIndex>, qint64>> estimated_;
    BackgroundTasks tasks_;
    std::optional<Build> b_;               // the file being built
    std::optional<ChunkIndex> builtFrom_;  // the index of the entry last obtained, until installed
    QList<QByteArray> chunkFiles_;         // its chunks in the download folder (used or fetched)
};
