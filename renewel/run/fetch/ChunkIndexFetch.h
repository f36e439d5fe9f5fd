#pragma once
// The chunk index of an entry's new content, fetched ahead of the entry: whole, or where the
// file's installed content came from an index that is kept, the delta from that index to the new
// one (ChunkIndexDelta), and the full index only when the delta can't be had or doesn't rebuild
// the listed index. An index is believed only when it is the one update.sums names.

#include "run/fetch/RouteContext.h"
#include "chunk/ChunkIndex.h"
#include "net/DownloadQueue.h"
#include "run/plan/PlannedEntry.h"

#include <QHash>

#include <functional>
#include <optional>

class InstalledChunks;
class InstalledState;

class ChunkIndexFetch {
public:
    // The index (nothing when it can't be had: the file then comes whole) and the bytes fetched
    // for it.
    using Done = std::function<void(std::optional<ChunkIndex> index, qint64 indexBytes)>;

    ChunkIndexFetch(RouteContext context, InstalledState& state, InstalledChunks& kept)
        : c_(context), state_(state), kept_(kept) {}

    void prepare(qsizetype i, const PlannedEntry& planned);
    void obtain(qsizetype i, const PlannedEntry& planned, Done done);

private:
    struct Pending {
        std::optional<DownloadQueue::Outcome> outcome;
        Done done;
        QByteArray deltaFrom;  // the installed content the delta starts from
        bool full = false;     // the full index is being fetched
    };
    void start(qsizetype i, const PlannedEntry& planned, bool full);
    void arrived(qsizetype i, const PlannedEntry& planned);
    std::optional<ChunkIndex> readIndex(const PlannedEntry& planned, const DownloadQueue::Outcome& outcome) const;
    std::optional<ChunkIndex> fromDelta(const PlannedEntry& planned, const QByteArray& oldHash,
                                        const DownloadQueue::Outcome& outcome);
    std::optional<ChunkIndex> listedIndex(const PlannedEntry& planned, QByteArrayView bytes,
                                          const QByteArray& bytesHash) const;
    QByteArray deltaBase(const PlannedEntry& planned) const;

    RouteContext c_;
    InstalledState& state_;
    InstalledChunks& kept_;
    QHash<qsizetype, Pending> pending_;
    QHash<qsizetype, qint64> fetched_;  // index bytes fetched so far
};
