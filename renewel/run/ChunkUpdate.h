#pragma once
// Updating a listed file from the site's chunk store (see ChunkStore): where update.sums lists a
// chunk index for the file's new content, the index is fetched in place of the file. The chunks
// already on the disk (in the old copy of the file, and in every installed file whose chunk list
// is kept) are reused and only the others fetched, on the run's transfer engine, when that costs
// fewer bytes than the whole file; the new file is built in the download folder, checked against
// its SHA-256 in update.sums and made durable, and is then installed like a download. Fetched
// chunks stay in the download folder until their file is installed, so a run cut off continues
// without fetching them again. Where the file's installed content came from an index that is
// kept, the delta from that index to the new one is fetched in its place (ChunkIndexDelta), and
// the full index only when the delta can't be had or doesn't rebuild the listed index.

#include "chunk/ChunkIndex.h"
#include "chunk/FetchPlan.h"
#include "chunk/FileAssembler.h"
#include "net/DownloadQueue.h"
#include "run/InstalledChunks.h"
#include "site/UpdateList.h"

#include <QHash>
#include <QSet>

#include <functional>
#include <optional>

class SiteSources;
class Sums;
class InstalledState;
class UpdateHost;

class ChunkUpdate {
public:
    struct Context {
        DownloadQueue& queue;
        UpdateHost& host;
        InstalledState& state;
        const QList<UpdateEntry>& entries;
        const Sums& sums;
        SiteSources& sources;  // the store's objects come from any source that answers
        QString programFolder;
        QString installBase;
        QString downloadFolder;
        std::function<void()> checkCancelled;                         // ends the run when cancelled
        std::function<void(const QString&, const QString&)> fail;      // stops the run; never returns
    };

    explicit ChunkUpdate(Context context);

    // Whether update.sums lists a chunk index for the entry's new content.
    bool HasIndex(const UpdateEntry& entry) const;
    // The download of that index, or of the delta to it, from the source, when there is one.
    std::optional<DownloadQueue::Job> IndexJob(const UpdateEntry& entry, int source);
    // With the index job awaited: fetches the missing chunks and builds the new file in the
    // download folder (checked, on disk for good). Nothing when the index is unusable or the whole
    // file costs fewer bytes: the file is then fetched whole.
    std::optional<QString> Build(const UpdateEntry& entry, const DownloadQueue::Job& indexJob);
    // The entry was installed with the content of this SHA-256: its chunk list is kept when its
    // index came, and the chunks fetched for it go.
    void Installed(const UpdateEntry& entry, const QByteArray& digest);
    // After a completed run: only the lists of installed listed files stay.
    void Prune();

private:
    std::optional<ChunkIndex> obtainIndex(const UpdateEntry& entry, const DownloadQueue::Job& firstJob, qint64& indexBytes);
    DownloadQueue::Job fullIndexJob(const UpdateEntry& entry, int source) const;
    std::optional<ChunkIndex> readIndex(const UpdateEntry& entry, const DownloadQueue::Job& job) const;
    std::optional<ChunkIndex> fromDelta(const UpdateEntry& entry, const QByteArray& oldHash, const DownloadQueue::Job& job);
    std::optional<ChunkIndex> listedIndex(const UpdateEntry& entry, QByteArrayView bytes, const QByteArray& bytesHash) const;
    LocalChunks localChunks(const UpdateEntry& entry, const ChunkParams& params);
    void chunkOldCopy(const UpdateEntry& entry, const ChunkParams& params, LocalChunks& local);
    QList<ChunkIndexEntry> notKept(const QList<ChunkIndexEntry>& missing) const;
    void fetch(const QList<ChunkIndexEntry>& chunks, qint64& done, qint64 total);
    QString assemble(const UpdateEntry& entry, const QByteArray& digest, LocalChunks& local, qint64 done);
    Assembly buildOnce(const QString& target, const QString& shown, const LocalChunks& local);
    QList<ChunkIndexEntry> fetchAgain(const QList<AssemblyProblem>& problems, LocalChunks& local);
    QString chunkPath(const QByteArray& hash) const;
    DownloadQueue::Job chunkJob(const ChunkIndexEntry& chunk);
    QString siteUrl(const UpdateEntry& entry) const;
    // Drops the source an address belongs to; stops the run when none is left.
    void dropSource(const QString& url, const QString& why);

    Context c_;
    InstalledChunks kept_;
    std::optional<ChunkIndex> index_;  // of the entry being updated
    QHash<QByteArray, QByteArray> deltaFrom_;  // listed path -> the installed content its delta starts from
    QList<QByteArray> chunkFiles_;     // chunks of that entry in the download folder
    QHash<QByteArray, QString> fetchedNow_;  // chunks this run fetched, with their addresses
    int sourcesDropped_ = 0;                  // for serving a chunk that was refused
    qsizetype nextKey_;
    // Entries whose installed content has a kept list: found on the first file built, then grown
    // with each file installed from its index.
    std::optional<QList<qsizetype>> holders_;
};
