#include "chunk/RemoteChunks.h"

#include "chunk/ChunkFolder.h"
#include "chunk/ChunkStore.h"
#include "net/DownloadFile.h"
#include "net/DownloadQueue.h"
#include "net/SiteSources.h"

RemoteChunks::RemoteChunks(DownloadQueue& queue, const ChunkFolder& folder, int window)
    : queue_(queue), folder_(folder), window_(window)
{
}

void RemoteChunks::fetch(QList<ChunkIndexEntry> chunks, Arrived arrived, Done done)
{
    stop();
    chunks_ = std::move(chunks);
    arrived_ = std::move(arrived);
    done_ = std::move(done);
    if (chunks_.isEmpty())
        return finish(std::nullopt);
    startMore();
}

void RemoteChunks::stop()
{
    ++fetch_;
    chunks_.clear();
    next_ = 0;
    waiting_ = 0;
    arrived_ = nullptr;
    done_ = nullptr;
}

void RemoteChunks::startMore()
{
    while (next_ < chunks_.size() && inFlight_ < window_)
        start(chunks_[next_++]);
}

// Before everything else in the queue: the file being built waits for them.
void RemoteChunks::start(const ChunkIndexEntry& chunk)
{
    DownloadQueue::Fetch fetch;
    fetch.name = ChunkStore::objectName(chunk.hash);
    fetch.file = folder_.path(chunk.hash);
    fetch.maxSize = chunk.storedLength;
    fetch.durable = false;  // checked when used: a chunk lost in a crash is fetched again
    fetch.cacheable = true;
    fetch.order = DownloadQueue::Order::Now;
    const qint64 length = chunk.storedLength;
    fetch.check = [length](const DownloadQueue::Outcome& outcome) {
        const qint64 got = DownloadFileSize(outcome.file);
        return got == length ? QString() : QStringLiteral("received %1 bytes, the index says %2").arg(got).arg(length);
    };
    ++inFlight_;
    ++waiting_;
    const quint64 number = fetch_;
    queue_.start(std::move(fetch), [this, number, chunk](const DownloadQueue::Outcome& o) {
        ended(number, chunk, o.succeeded, o.url, o.error, o.source);
    });
}

void RemoteChunks::ended(quint64 fetch, const ChunkIndexEntry& chunk, bool succeeded, const QString& url,
                         const QString& error, int source)
{
    --inFlight_;
    if (fetch != fetch_) {
        startMore();  // room for the fetch under way
        return;
    }
    --waiting_;
    if (!succeeded)
        return finish(Failure{url, error});
    servedBy_.insert(chunk.hash, source);
    if (arrived_)
        arrived_(chunk);
    if (fetch != fetch_)
        return;  // stopped from arrived
    if (next_ == chunks_.size() && waiting_ == 0)
        return finish(std::nullopt);
    startMore();
}

void RemoteChunks::finish(std::optional<Failure> failure)
{
    const Done done = std::move(done_);
    stop();
    if (done)
        done(std::move(failure));
}

std::optional<RemoteChunks::Refusal> RemoteChunks::refuse(const QByteArray& hash, const QString& why)
{
    const auto served = servedBy_.constFind(hash);
    if (served == servedBy_.constEnd())
        return std::nullopt;
    const int source = *served;
    servedBy_.erase(served);
    SiteSources& sources = queue_.sources();
    Refusal refusal;
    refusal.url = sources.url(source, ChunkStore::objectName(hash));
    if (sources.alive(source)) {
        queue_.dropSource(source, why);
        refusal.dropped = true;
    }
    refusal.sourceLeft = sources.aliveCount() > 0;
    return refusal;
}
