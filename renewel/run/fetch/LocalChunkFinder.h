#pragma once
// Finds where a new file's chunks already are in the installation, for the chunk store's installed
// copies: every installed file whose kept chunk list (renewel.chunks) was cut with the index's
// sizes and that is unchanged since it was recorded, the entry's own old copy first. An old copy
// without a kept list is chunked now, on a thread of its own, and its list kept for the next run
// (not by a check); its SHA-256 is recorded, so the run finds the list again without reading it.

#include "run/fetch/BackgroundTasks.h"
#include "run/plan/PlannedEntry.h"
#include "chunk/ChunkParams.h"

#include <QList>
#include <QString>

#include <functional>
#include <optional>

class InstalledChunks;
class InstalledCopies;
class InstalledState;

class LocalChunkFinder {
public:
    LocalChunkFinder(InstalledState& state, InstalledChunks& kept, const QList<PlannedEntry>& entries,
                     const QString& installBase, bool checkOnly)
        : state_(state), kept_(kept), entries_(entries), installBase_(installBase), checkOnly_(checkOnly) {}

    // Adds to `into` the installed copies for entry i's new content, cut with params; then runs
    // once they are in (now, or later on the owner's thread). `into` must outlive the search.
    void find(qsizetype i, const ChunkParams& params, InstalledCopies& into, std::function<void()> then);
    // Entry i's installed content now has a kept list.
    void listed(qsizetype i);

private:
    bool addKept(const PlannedEntry& from, const ChunkParams& params, InstalledCopies& into);
    void chunkOldCopy(const PlannedEntry& planned, const ChunkParams& params, InstalledCopies& into,
                      std::function<void()> then);
    const QList<qsizetype>& holders();

    InstalledState& state_;
    InstalledChunks& kept_;
    const QList<PlannedEntry>& entries_;
    const QString installBase_;
    const bool checkOnly_;  // nothing is written: an old copy's list is not kept
    BackgroundTasks tasks_;
    // Entries whose installed content has a kept list: found on the first search, then grown with
    // each file installed from its index.
    std::optional<QList<qsizetype>> holders_;
};
