#pragma once
// Updating a listed file from the site's chunk store (see ChunkStore): where update.sums lists a
// chunk index for the file's new content, the index is fetched in place of the file. The chunks
// already on the disk (in the old copy of the file, and in every installed file whose chunk list
// is kept) are reused and only the others fetched, on the run's transfer engine, when that costs
// fewer bytes than the whole file; the new file is built in the download folder, checked against
// its SHA-256 in update.sums and made durable, and is then installed like a download. Fetched
// chunks stay in the download folder until their file is installed, so a run cut off continues
// without fetching them again.

#include "chunk/ChunkIndex.h"
#include "chunk/FetchPlan.h"
#include "chunk/FileAssembler.h"
#include "net/DownloadQueue.h"
#include "run/InstalledChunks.h"
#include "site/UpdateList.h"

#include <QSet>

#include <functional>
#include <optional>

class Sums;
class TInstalledState;
class UpdateHost;

// The address of an object of the chunk store (ChunkStore::objectName, ChunkStore::indexName).
QString ChunkStoreUrl(const QByteArray& site, const QString& name);

class TChunkUpdate {
public:
    struct Context {
        TDownloadQueue& queue;
        UpdateHost& host;
        TInstalledState& state;
        const QList<TUpdateEntry>& entries;
        const Sums& sums;
        QByteArray site;
        QString programFolder;
        QString installBase;
        QString downloadFolder;
        std::function<void()> checkCancelled;                         // ends the run when cancelled
        std::function<void(const QString&, const QString&)> fail;      // stops the run; never returns
    };

    explicit TChunkUpdate(Context context);

    // The download of the entry's chunk index, when update.sums lists one for its new content.
    std::optional<TDownloadQueue::Job> IndexJob(const TUpdateEntry& entry) const;
    // With the index job awaited: fetches the missing chunks and builds the new file in the
    // download folder (checked, on disk for good). Nothing when the index is unusable or the whole
    // file costs fewer bytes: the file is then fetched whole.
    std::optional<QString> Build(const TUpdateEntry& entry, const TDownloadQueue::Job& indexJob);
    // The entry was installed with the content of this SHA-256: its chunk list is kept when its
    // index came, and the chunks fetched for it go.
    void Installed(const TUpdateEntry& entry, const QByteArray& digest);
    // After a completed run: only the lists of installed listed files stay.
    void Prune();

private:
    std::optional<ChunkIndex> readIndex(const TUpdateEntry& entry, const TDownloadQueue::Job& job) const;
    LocalChunks localChunks(const TUpdateEntry& entry, const ChunkParams& params);
    void chunkOldCopy(const TUpdateEntry& entry, const ChunkParams& params, LocalChunks& local);
    QList<ChunkIndexEntry> notKept(const QList<ChunkIndexEntry>& missing) const;
    void fetch(const QList<ChunkIndexEntry>& chunks, qint64& done, qint64 total);
    QString assemble(const TUpdateEntry& entry, const QByteArray& digest, LocalChunks& local, qint64 done);
    Assembly buildOnce(const QString& target, const QString& shown, const LocalChunks& local);
    QList<ChunkIndexEntry> fetchAgain(const QList<AssemblyProblem>& problems, LocalChunks& local);
    QString chunkPath(const QByteArray& hash) const;
    QString url(const QString& name) const { return ChunkStoreUrl(c_.site, name); }

    Context c_;
    TInstalledChunks kept_;
    std::optional<ChunkIndex> index_;  // of the entry being updated
    QList<QByteArray> chunkFiles_;     // chunks of that entry in the download folder
    QSet<QByteArray> fetchedNow_;      // chunks this run fetched
    qsizetype nextKey_;
    // Entries whose installed content has a kept list: found on the first file built, then grown
    // with each file installed from its index.
    std::optional<QList<qsizetype>> holders_;
};
