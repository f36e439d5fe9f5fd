#pragma once
// A listed file built from the site's chunk store (see ChunkStore): where update.sums lists a
// chunk index for the file's new content, the index is fetched in place of the file
// (ChunkIndexFetch). The chunks already on the disk (LocalChunkFinder: in the old copy of the
// file, and in every installed file whose chunk list is kept; and those kept in the download
// folder by an earlier run) are reused and only the others fetched (ChunkSources), when that
// costs fewer bytes than the whole file; the new file is built in the download folder on a thread
// of its own, checked against its SHA-256 in update.sums and made durable. Fetched chunks stay in
// the download folder until their file is installed, so a run cut off continues without fetching
// them again. One file is built at a time: the one the run has reached.

#include "run/fetch/BackgroundTasks.h"
#include "run/fetch/ChunkIndexFetch.h"
#include "run/fetch/FileRoute.h"
#include "run/fetch/LocalChunkFinder.h"
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
        int round = 1;       // builds of the file so far
    };
    struct Built {
        Result<Assembly> assembly = Result<Assembly>::failure({});
        QString syncFailure;  // why the file could not be made durable
        qint64 onDisk = -1;
    };

    void indexed(std::optional<ChunkIndex> index, qint64 indexBytes);
    void plan();
    void fetch(QList<ChunkIndexEntry> chunks);
    void assemble();
    void assembled(Built built);
    void fetchAgain(const QList<AssemblyProblem>& problems);
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
    LocalChunkFinder finder_;
    QSet<qsizetype> prepared_;
    // The index (nothing: unusable) and its bytes, from the estimate until obtained.
    QHash<qsizetype, std::pair<std::optional<ChunkIndex>, qint64>> estimated_;
    BackgroundTasks tasks_;
    std::optional<Build> b_;               // the file being built
    std::optional<ChunkIndex> builtFrom_;  // the index of the entry last obtained, until installed
    QList<QByteArray> chunkFiles_;         // its chunks in the download folder
};
