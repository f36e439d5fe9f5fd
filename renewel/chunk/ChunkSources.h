#pragma once
// The chunk store a new file is built from, with its sources tried in order: the installed
// copies (InstalledCopies), the chunks kept in the download folder by an earlier run
// (ChunkFolder), and the site's chunk objects (RemoteChunks), fetched into that folder. Every
// chunk is checked against its SHA-256 each time it is read; one that fails is dropped from the
// source it came from and asked of the next (a fetched one drops the site or mirror that served
// it).
//
//   ChunkSources store(queue, downloadFolder);
//   store.installed().add(oldCopy, itsChunks);
//   const FetchPlan plan = store.missing(index);  // what fetching would cost, nothing fetched
//   store.fetch(plan.missing, arrived, done);     // in done:
//   assembleInto(fd, index, store.installed(), store.folder());  // problems: store.refused(...)

#include "chunk/ChunkFolder.h"
#include "chunk/FetchPlan.h"
#include "chunk/FileAssembler.h"
#include "chunk/InstalledCopies.h"
#include "chunk/RemoteChunks.h"

class DownloadQueue;

class ChunkSources {
public:
    ChunkSources(DownloadQueue& queue, const QString& downloadFolder, int window = RemoteChunks::DefaultWindow);

    InstalledCopies& installed() { return installed_; }
    const ChunkFolder& folder() const { return folder_; }
    RemoteChunks& remote() { return remote_; }

    // Starts over for the next file: no installed copies, no memory of where chunks came from.
    void clear();
    // Whether the chunk is on the disk (in an installed copy or the download folder); read
    // nowhere, so it is checked only when it is used.
    bool has(const ChunkIndexEntry& chunk) const { return installed_.has(chunk) || folder_.has(chunk); }
    // The chunks of the index that are on no local source, each once, with their stored bytes:
    // what fetching the file's chunks costs. Nothing is fetched or read.
    FetchPlan missing(const ChunkIndex& index) const { return planFetch(index, installed_, &folder_); }
    // Fetches chunks from the site into the download folder (see RemoteChunks::fetch).
    void fetch(QList<ChunkIndexEntry> chunks, RemoteChunks::Arrived arrived, RemoteChunks::Done done)
    {
        remote_.fetch(std::move(chunks), std::move(arrived), std::move(done));
    }

    // What the chunks an assembly could not have take: each is dropped from the source that
    // failed (its installed copy forgotten, its file in the download folder removed, the site or
    // mirror that served it dropped) and is to be fetched again.
    struct Refetch {
        QList<ChunkIndexEntry> chunks;  // each once
        bool sourceDropped = false;
        std::optional<RemoteChunks::Failure> failure;  // no source is left for a refused chunk
    };
    Refetch refused(const ChunkIndex& index, const QList<AssemblyProblem>& problems);

private:
    InstalledCopies installed_;
    ChunkFolder folder_;
    RemoteChunks remote_;
};
