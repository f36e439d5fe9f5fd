#include "net/DownloadQueue.h"

#include "net/HTTPGet.h"
#include "net/HTTPPolicy.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QPointer>
#include <QTimer>

#include <algorithm>

TDownloadQueue::TDownloadQueue(const THTTPSettings& model, int connections, std::shared_ptr<TRateLimiter> rateLimit,
                               qint64 retryDelayMs)
    : retryDelayMs_(retryDelayMs)
{
    for (int i = 0; i < connections; ++i) {
        auto get = std::make_unique<THTTPGet>();
        static_cast<THTTPSettings&>(*get) = model;
        get->RateLimit = rateLimit;
        get->WaitThread = false;
        get->SyncToDisk = true;  // on the worker threads, in parallel: the install only renames
        get->OnDoneFile = [this, i](QObject*, const QString&, qint64) { ended(i); };
        get->OnError = [this, i](QObject*) { ended(i); };
        get->OnProgress = [this, i](QObject*, qint64 total, qint64 readed) {
            if (awaited_ >= 0 && slotJob_[size_t(i)] == awaited_ && progress_)
                progress_(total, readed);
        };
        slots_.push_back(std::move(get));
        slotJob_.push_back(-1);
    }
}

TDownloadQueue::~TDownloadQueue()
{
    // The components abort and join their workers; no event reaches this queue afterwards.
    OnSlotFree = nullptr;
    slots_.clear();
}

bool TDownloadQueue::HasRoom() const
{
    return std::find(slotJob_.begin(), slotJob_.end(), -1) != slotJob_.end();
}

void TDownloadQueue::Start(qsizetype key, Job job)
{
    const auto free = std::find(slotJob_.begin(), slotJob_.end(), -1);
    job.slot = int(free - slotJob_.begin());
    *free = key;
    jobs_[key] = std::move(job);
    fetch(key);
}

void TDownloadQueue::fetch(qsizetype key)
{
    Job& job = jobs_.at(key);
    THTTPGet& get = *slots_[size_t(job.slot)];
    get.URL = job.url;
    get.FileName = job.file;
    get.MaxSize = job.maxSize;
    get.HashBody = job.hash;
    get.ExpectedSize = job.maxSize;
    ++job.tries;
    get.Fetch();
}

void TDownloadQueue::ended(int slot)
{
    const qsizetype key = slotJob_[size_t(slot)];
    Job& job = jobs_.at(key);
    const THTTPGet& get = *slots_[size_t(slot)];
    if (!get.Succeeded() && get.LastErrorTransient() && !aborted_ && job.tries <= MaxRetries) {
        const qint64 delay = RetryDelayMs(job.tries, retryDelayMs_, get.RetryAfterSeconds());
        QTimer::singleShot(int(delay), slots_[size_t(slot)].get(), [this, key] {
            if (!aborted_)
                fetch(key);
            else
                ended(jobs_.at(key).slot);
        });
        return;
    }
    job.done = true;
    job.succeeded = get.Succeeded();
    job.error = get.LastError();
    job.digest = get.Digest();
    slotJob_[size_t(slot)] = -1;
    if (wait_ && key == awaited_)
        wait_->quit();
    // The component is still inside its completion handler and would refuse a new download:
    // refill once it has finished.
    QTimer::singleShot(0, slots_[size_t(slot)].get(), [this] {
        if (OnSlotFree)
            OnSlotFree();
    });
}

TDownloadQueue::Job TDownloadQueue::Await(qsizetype key, const std::function<void(qint64, qint64)>& onProgress)
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
    awaited_ = -1;
    progress_ = nullptr;
    Job result = std::move(job);
    jobs_.erase(key);
    return result;
}

void TDownloadQueue::AbortAll()
{
    aborted_ = true;
    for (auto& get : slots_)
        get->Abort();
}
