#include "net/DownloadQueue.h"

#include "net/HTTPRequest.h"
#include "net/TransferEngine.h"

#include <QCoreApplication>
#include <QEventLoop>

DownloadQueue::DownloadQueue(const HTTPSettings& model, int connections, std::shared_ptr<RateLimiter> rateLimit,
                               qint64 retryDelayMs)
    : model_(std::make_unique<HTTPSettings>(model)),
      engine_(std::make_unique<TransferEngine>(connections, retryDelayMs))
{
    model_->RateLimit = std::move(rateLimit);
    model_->NewerHttp = true;
    model_->SyncToDisk = false;  // the engine makes finished files durable in batches
    engine_->OnReady = [this] { arrived(); };
}

DownloadQueue::~DownloadQueue()
{
    OnSlotFree = nullptr;
    engine_.reset();  // aborts and joins; no outcome reaches this queue afterwards
}

// Twice what the protocol runs at once: the next transfers are already waiting in the engine when
// one ends, without a round through this thread. Files being made durable take no room.
bool DownloadQueue::HasRoom() const { return engine_->InFlight() < 2 * engine_->Capacity(); }

void DownloadQueue::Start(qsizetype key, Job job)
{
    TransferEngine::Request request;
    request.key = key;
    static_cast<HTTPSettings&>(request.request) = *model_;
    request.request.URL = job.url;
    request.request.MaxSize = job.maxSize;
    request.request.ExpectedSize = job.resume ? job.maxSize : -1;
    request.request.HashBody = job.hash;
    request.file = job.file;
    request.retry = job.retry;
    request.durable = job.durable;
    jobs_[key] = std::move(job);
    engine_->Add(std::move(request));
}

// A batch from the engine: ended downloads, the progress of those still running, and room for
// more.
void DownloadQueue::arrived()
{
    std::vector<TransferEngine::Outcome> outcomes;
    std::map<qsizetype, TransferEngine::Progress> progress;
    engine_->Take(outcomes, progress);
    bool awaitedEnded = false;
    for (TransferEngine::Outcome& outcome : outcomes) {
        const auto found = jobs_.find(outcome.key);
        if (found == jobs_.end() || found->second.done)
            continue;
        Job& job = found->second;
        job.done = true;
        job.succeeded = outcome.succeeded;
        job.error = std::move(outcome.error);
        job.digest = std::move(outcome.digest);
        job.tries = outcome.tries;
        awaitedEnded |= outcome.key == awaited_;
    }
    if (const auto it = progress.find(awaited_); it != progress.end() && progress_ && !awaitedEnded)
        progress_(it->second.total, it->second.readed);
    if (awaitedEnded && wait_)
        wait_->quit();
    if (OnSlotFree && HasRoom())
        OnSlotFree();
}

DownloadQueue::Job DownloadQueue::Await(qsizetype key, const std::function<void(qint64, qint64)>& onProgress)
{
    awaited_ = key;
    progress_ = onProgress;
    Job& job = jobs_.at(key);
    while (!job.done) {
        QEventLoop loop;
        wait_ = &loop;
        loop.exec();
        wait_ = nullptr;
        // After an application quit, Qt's loops return at once: wait for the next event instead.
        if (!job.done)
            QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
    }
    awaited_ = None;
    progress_ = nullptr;
    Job result = std::move(job);
    jobs_.erase(key);
    return result;
}

void DownloadQueue::AbortAll() { engine_->AbortAll(); }

QString DownloadQueue::Protocol() const { return engine_->Protocol(); }

int DownloadQueue::ConnectionsOpened() const { return engine_->ConnectionsOpened(); }
