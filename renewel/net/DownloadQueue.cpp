#include "net/DownloadQueue.h"

#include "net/HTTPRequest.h"
#include "net/HTTPSink.h"
#include "net/SiteSources.h"
#include "net/TransferEngine.h"

#include <QFile>

namespace {
// The engine starts the lowest key first: the order's rank, then the place, then the start.
constexpr int RankShift = 56;
constexpr int PlaceShift = 16;
constexpr qsizetype SerialMask = (qsizetype(1) << PlaceShift) - 1;
}  // namespace

DownloadQueue::DownloadQueue(const HTTPSettings& model, SiteSources& sources, int connections,
                             std::shared_ptr<RateLimiter> rateLimit, qint64 retryDelayMs)
    : model_(std::make_unique<HTTPSettings>(model)), sources_(sources),
      engine_(std::make_unique<TransferEngine>(connections, retryDelayMs))
{
    model_->RateLimit = std::move(rateLimit);
    model_->NewerHttp = true;
    model_->SyncToDisk = false;  // the engine makes finished files durable in batches
    engine_->OnReady = [this] { arrived(); };
}

DownloadQueue::~DownloadQueue()
{
    onSlotFree = nullptr;
    engine_.reset();  // aborts and joins; no outcome reaches this queue afterwards
}

// Twice what the protocol runs at once: the next transfers are already waiting in the engine when
// one ends, without a round through this thread. Files being made durable take no room.
bool DownloadQueue::hasRoom() const { return engine_->inFlight() < 2 * engine_->capacity(); }

quint64 DownloadQueue::start(Fetch fetch, Done done)
{
    const quint64 id = nextId_++;
    Job& job = jobs_[id];
    job.fetch = std::move(fetch);
    job.done = std::move(done);
    job.source = job.fetch.source >= 0 ? job.fetch.source : sources_.pick();
    if (job.source < 0) {
        // Reported from the event loop, as every end is.
        Outcome outcome;
        outcome.url = sources_.url(0, job.fetch.name);
        outcome.error = QStringLiteral("no update source is left");
        QMetaObject::invokeMethod(this, [this, id, outcome] { report(id, outcome); }, Qt::QueuedConnection);
        return id;
    }
    submit(id, job);
    return id;
}

void DownloadQueue::follow(quint64 id, Progress progress)
{
    if (const auto found = jobs_.find(id); found != jobs_.end())
        found->second.progress = std::move(progress);
}

qsizetype DownloadQueue::keyFor(const Fetch& fetch)
{
    const qsizetype place = fetch.order == Order::InList ? fetch.place : 0;
    return (qsizetype(fetch.order) << RankShift) + (place << PlaceShift) + (serial_++ & SerialMask);
}

// Where other sources could take over, a failure is not tried again on the same one.
void DownloadQueue::submit(quint64 id, Job& job)
{
    const Fetch& fetch = job.fetch;
    job.url = sources_.url(job.source, fetch.name);
    TransferEngine::Request request;
    request.key = keyFor(fetch);
    static_cast<HTTPSettings&>(request.request) = *model_;
    request.request.URL = job.url;
    request.request.MaxSize = fetch.maxSize;
    request.request.ExpectedSize = fetch.resume ? fetch.maxSize : -1;
    request.request.HashBody = fetch.hash;
    request.request.UseCache = fetch.cacheable;
    request.request.Compressed = fetch.compressed;
    request.request.Validator = fetch.validator;
    request.request.Ranges = fetch.ranges;
    request.file = fetch.file;
    request.sink = fetch.sink;
    request.retry = fetch.retry && (fetch.source >= 0 || sources_.aliveCount() <= 1);
    request.durable = fetch.durable;
    byKey_[request.key] = id;
    engine_->add(std::move(request));
}

// A batch from the engine: ended downloads, the progress of those still running, and room for
// more.
void DownloadQueue::arrived()
{
    std::vector<TransferEngine::Outcome> outcomes;
    std::map<qsizetype, TransferEngine::Progress> progress;
    engine_->take(outcomes, progress);
    for (TransferEngine::Outcome& ended : outcomes) {
        const auto found = byKey_.find(ended.key);
        if (found == byKey_.end())
            continue;
        const quint64 id = found->second;
        byKey_.erase(found);
        Outcome outcome;
        outcome.succeeded = ended.succeeded;
        outcome.error = std::move(ended.error);
        outcome.digest = std::move(ended.digest);
        outcome.status = ended.status;
        outcome.validator = std::move(ended.validator);
        this->ended(id, std::move(outcome));
    }
    for (const auto& [key, p] : progress) {
        const auto found = byKey_.find(key);
        const auto job = found == byKey_.end() ? jobs_.end() : jobs_.find(found->second);
        if (job != jobs_.end() && job->second.progress)
            job->second.progress(p.total, p.readed);
    }
    if (onSlotFree && hasRoom())
        onSlotFree();
}

void DownloadQueue::ended(quint64 id, Outcome outcome)
{
    const auto found = jobs_.find(id);
    if (found == jobs_.end())
        return;
    Job& job = found->second;
    outcome.url = job.url;
    outcome.file = job.fetch.file;
    outcome.source = job.source;
    if (outcome.succeeded && job.fetch.check) {
        if (const QString why = job.fetch.check(outcome); !why.isEmpty()) {
            outcome.succeeded = false;
            outcome.error = why;
        }
    }
    if (outcome.succeeded || aborting_ || job.fetch.source >= 0)
        return report(id, std::move(outcome));
    failOver(id, job, outcome.error);
}

// The source that failed is dropped and the download starts over at another, from nothing.
void DownloadQueue::failOver(quint64 id, Job& job, const QString& why)
{
    sources_.failed(job.source, why);
    const int next = sources_.pick();
    if (next < 0) {  // what was fetched stays, to be continued by a later run
        Outcome outcome;
        outcome.error = why;
        outcome.url = job.url;
        outcome.file = job.fetch.file;
        outcome.source = job.source;
        return report(id, std::move(outcome));
    }
    QFile::remove(job.fetch.file);
    QFile::remove(FileSink::validatorFile(job.fetch.file));
    job.source = next;
    submit(id, job);
}

void DownloadQueue::report(quint64 id, Outcome outcome)
{
    const auto found = jobs_.find(id);
    if (found == jobs_.end())
        return;
    const Done done = std::move(found->second.done);
    jobs_.erase(found);
    if (done)
        done(outcome);
}

void DownloadQueue::abortAll()
{
    aborting_ = true;
    engine_->abortAll();
}

void DownloadQueue::dropSource(int source, const QString& why) { sources_.failed(source, why); }

QString DownloadQueue::protocol() const { return engine_->protocol(); }

int DownloadQueue::connectionsOpened() const { return engine_->connectionsOpened(); }
