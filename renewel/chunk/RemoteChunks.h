#pragma once
// Chunk objects of the update site, fetched through the download queue by their site-relative
// names into the download folder (ChunkFolder). A file of a million chunks must not become a
// million downloads at once: at most `window` chunks are in the queue, and each one that ends
// starts the next, in the order the file needs them. A chunk that fails at a source is asked of
// another by the queue; the fetch fails only when no source is left. The source each chunk came
// from is remembered, so that a chunk refused when it is read drops that source.

#include "chunk/ChunkIndex.h"

#include <QHash>
#include <QList>
#include <QString>

#include <functional>
#include <optional>

class ChunkFolder;
class DownloadQueue;

class RemoteChunks {
public:
    static constexpr int DefaultWindow = 64;

    struct Failure {
        QString url;  // where the chunk failed last
        QString reason;
    };
    using Arrived = std::function<void(const ChunkIndexEntry& chunk)>;
    using Done = std::function<void(std::optional<Failure> failure)>;

    RemoteChunks(DownloadQueue& queue, const ChunkFolder& folder, int window = DefaultWindow);

    // Fetches the chunks into the folder. arrived runs for each one in; done runs once, when all
    // are in or one could not be had. A fetch started before is forgotten.
    void fetch(QList<ChunkIndexEntry> chunks, Arrived arrived, Done done);
    // Forgets the fetch under way: no callback of it runs any more, nothing more is started.
    void stop();
    // Chunk downloads in the queue now (those of a forgotten fetch too).
    int inFlight() const { return inFlight_; }

    struct Refusal {
        QString url;       // where the refused chunk came from
        bool dropped = false;  // its source was alive and is dropped now
        bool sourceLeft = true;
    };
    // A chunk this fetched was refused when read: the source that served it is dropped. Nothing
    // when the chunk was not fetched by this (kept from an earlier run).
    std::optional<Refusal> refuse(const QByteArray& hash, const QString& why);
    // Forgets where the chunks fetched so far came from (their file is done with).
    void forgetServed() { servedBy_.clear(); }

private:
    void startMore();
    void start(const ChunkIndexEntry& chunk);
    void ended(quint64 fetch, const ChunkIndexEntry& chunk, bool succeeded, const QString& url,
               const QString& error, int source);
    void finish(std::optional<Failure> failure);

    DownloadQueue& queue_;
    const ChunkFolder& folder_;
    const int window_;
    QList<ChunkIndexEntry> chunks_;  // of the fetch under way
    qsizetype next_ = 0;             // the next of them to start
    int waiting_ = 0;                // of them, started and not ended
    int inFlight_ = 0;
    quint64 fetch_ = 0;  // numbers the fetches, so that a forgotten one's ends are ignored
    Arrived arrived_;
    Done done_;
    QHash<QByteArray, int> servedBy_;  // the source of each chunk fetched
};
