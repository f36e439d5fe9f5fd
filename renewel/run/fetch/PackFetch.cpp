#include "run/fetch/PackFetch.h"

#include "chunk/ChunkStore.h"
#include "net/DownloadQueue.h"
#include "net/SiteSources.h"

#include <QTimer>

namespace {
// Rounds in a row without a chunk arriving before a source is given up for this file.
constexpr int MaxIdleRounds = 4;
constexpr int RetryDelayMs = 1000;
constexpr qint64 PartOverhead = 1024;  // a multipart part's boundary and headers, generously
}  // namespace

PackFetch::PackFetch(DownloadQueue& queue) : queue_(queue), timers_(std::make_unique<QObject>()) {}

PackFetch::~PackFetch() = default;

qint64 PackFetch::cost(const QList<qint64>& packOffsets, const QList<qsizetype>& places)
{
    return packBytes(planPackRequests(packOffsets, places));
}

void PackFetch::fetch(std::shared_ptr<const PackTarget> target, QList<qsizetype> places, Progress progress, Done done)
{
    stop();
    target_ = std::move(target);
    places_ = std::move(places);
    progress_ = std::move(progress);
    done_ = std::move(done);
    packless_.clear();
    arrived_ = 0;
    idleRounds_ = 0;
    round();
}

void PackFetch::stop()
{
    ++fetch_;
    asked_.clear();
    progress_ = nullptr;
    done_ = nullptr;
    target_.reset();
}

void PackFetch::finish(Outcome outcome)
{
    const Done done = std::move(done_);
    stop();
    if (done)
        done(std::move(outcome));
}

// One source asked for every chunk still missing, in as few requests as it takes.
void PackFetch::round()
{
    if (places_.isEmpty())
        return finish({});
    SiteSources& sources = queue_.sources();
    const QString name = ChunkStore::packName(target_->index->fileHash);
    const int source = sources.pick();
    if (source < 0)
        return finish({{}, Failure{lastUrl_.isEmpty() ? sources.url(0, name) : lastUrl_,
                                   lastError_.isEmpty() ? QStringLiteral("no update source is left") : lastError_}});
    const Mode mode = modes_.value(source, Mode::MultipleRanges);
    if (mode == Mode::Objects || packless_.contains(source))
        return finish({places_, std::nullopt});
    PackLimits limits;
    if (mode == Mode::SingleRanges)
        limits.ranges = 1;
    progressed_ = transportFailed_ = false;
    const quint64 number = fetch_;
    QList<PackRequest> requests = planPackRequests(target_->packOffsets, places_, limits);
    // Single ranges are tried with one request before the others follow: a server may take none.
    if (mode == Mode::SingleRanges && !proven_.contains(source))
        requests.resize(1);
    for (const PackRequest& request : std::as_const(requests)) {
        const Mode asked = request.ranges.contains(',') ? Mode::MultipleRanges : Mode::SingleRanges;
        auto receiver = std::make_shared<PackReceiver>(target_, request.chunks);
        DownloadQueue::Fetch fetch;
        fetch.name = name;
        fetch.sink = receiver;
        fetch.ranges = request.ranges;
        // The ranges, and the headers of their parts: a server that sends more is not answering.
        fetch.maxSize = request.bytes + PartOverhead * (request.ranges.count(',') + 1) + PartOverhead;
        fetch.source = source;
        fetch.retry = false;  // asked again by the next round, for what is still missing
        fetch.resume = false;
        fetch.durable = false;  // the file is made durable once it is whole
        fetch.cacheable = true;
        fetch.order = DownloadQueue::Order::Now;
        PackReceiver* key = receiver.get();
        asked_.insert(key, {receiver, 0});
        const quint64 id = queue_.start(std::move(fetch), [this, number, key, source, asked](const DownloadQueue::Outcome& o) {
            if (number == fetch_)
                ended(key, source, asked, o);
        });
        queue_.follow(id, [this, number, key](qint64, qint64 readed) {
            if (number != fetch_ || !asked_.contains(key))
                return;
            asked_[key].readed = readed;
            reportProgress();
        });
    }
}

void PackFetch::reportProgress()
{
    qint64 bytes = arrived_;
    for (const Asked& asked : std::as_const(asked_))
        bytes += asked.readed;
    if (progress_)
        progress_(bytes);
}

// asked: what the request was, multiple ranges or one.
void PackFetch::ended(PackReceiver* key, int source, Mode asked, const DownloadQueue::Outcome& outcome)
{
    const Asked request = asked_.take(key);
    arrived_ += request.readed;
    const PackReceiver& receiver = *request.receiver;
    if (!receiver.written().isEmpty()) {
        progressed_ = true;
        proven_.insert(source);
        const QSet<qsizetype> written(receiver.written().begin(), receiver.written().end());
        places_.removeIf([&](qsizetype place) { return written.contains(place); });
    }
    for (const PackReceiver::Refused& refused : receiver.refused()) {
        lastUrl_ = outcome.url;
        lastError_ = QStringLiteral("chunk %1 of %2 refused: %3")
                         .arg(refused.chunk + 1).arg(target_->index->chunks.size()).arg(refused.reason);
        // Asked of another source; with none left, of this one's chunk objects.
        if (queue_.sources().alive(source) && queue_.sources().aliveCount() > 1)
            queue_.dropSource(source, lastError_);
        else
            packless_.insert(source);
    }
    if (!outcome.succeeded) {
        if (outcome.error == QLatin1String("aborted"))
            return finish({{}, Failure{outcome.url, outcome.error}});
        if (outcome.status == 200 || outcome.status == 416)
            modes_[source] = asked == Mode::MultipleRanges ? Mode::SingleRanges : Mode::Objects;
        else if (outcome.status == 404 || outcome.status == 410)
            packless_.insert(source);
        else if (!receiver.Error.isEmpty()) {
            // An answer that is not of this pack, or breaks off, is not asked for again there.
            packless_.insert(source);
            lastUrl_ = outcome.url;
            lastError_ = receiver.Error;
        } else {
            transportFailed_ = true;
            lastUrl_ = outcome.url;
            lastError_ = outcome.error;
        }
    }
    reportProgress();
    if (asked_.isEmpty())
        roundEnded(source);
}

// A source that keeps answering without chunks is dropped (another is left) or given up: the run
// fails on it after a transport failure, and takes the chunk objects otherwise.
void PackFetch::roundEnded(int source)
{
    idleRounds_ = progressed_ ? 0 : idleRounds_ + 1;
    if (idleRounds_ >= MaxIdleRounds) {
        idleRounds_ = 0;
        if (!transportFailed_)
            packless_.insert(source);
        else if (queue_.sources().aliveCount() > 1)
            queue_.dropSource(source, lastError_);
        else
            return finish({{}, Failure{lastUrl_, lastError_}});
    }
    if (!transportFailed_ || progressed_)
        return round();
    const quint64 number = fetch_;
    QTimer::singleShot(RetryDelayMs * idleRounds_, timers_.get(), [this, number] {
        if (number == fetch_)
            round();
    });
}
