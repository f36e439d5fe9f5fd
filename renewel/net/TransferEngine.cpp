#include "net/TransferEngine.h"

#include "net/HTTPPolicy.h"
#include "net/HTTPSink.h"
#include "net/HTTPTransfer.h"
#include "net/PartialDownload.h"

#include "Result.h"
#include "platform/Folders.h"

#include <QFile>
#include <QFileInfo>
#include <QMetaObject>
#include <QObject>

#include <curl/curl.h>

#include <cerrno>
#include <chrono>

namespace {
using Clock = std::chrono::steady_clock;
constexpr auto kProgressEvery = std::chrono::milliseconds(20);
constexpr auto kCheckEvery = std::chrono::milliseconds(100);
}  // namespace

struct TransferEngine::Queued {
    Request request;
    int tries = 0;
};

struct TransferEngine::Running {
    Running(Queued q, HTTPSession& session, const std::atomic<bool>& aborted)
        : queued(std::move(q)), request(queued.request.request),
          fileSink(queued.request.file, request.HashBody, false),
          sink(queued.request.sink ? *queued.request.sink : static_cast<HTTPSink&>(fileSink)),
          transfer(request, sink, session, aborted)
    {
    }
    Queued queued;
    HTTPRequest request;  // with the continuation of a partial file
    FileSink fileSink;
    HTTPSink& sink;
    HTTPTransfer transfer;
    Progress progress;
};

struct TransferEngine::State {
    HTTPSession session;
    std::map<qsizetype, Queued> pending;           // lowest key starts first
    std::multimap<Clock::time_point, Queued> delayed;  // retries, by when they are due
    std::map<void*, std::unique_ptr<Running>> running;  // by easy handle
    HTTPTransfer::Clock::duration excluded{};     // rate-limit pauses: no transfer's stall time
    Clock::time_point lastProgress{}, lastCheck{};
    bool progressChanged = false;
};

TransferEngine::TransferEngine(int connections, qint64 retryDelayMs)
    : connections_(std::max(connections, 1)), retryDelayMs_(retryDelayMs), receiver_(std::make_unique<QObject>()),
      capacity_(connections_), state_(std::make_unique<State>())
{
    static std::once_flag once;
    std::call_once(once, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
    auto* multi = static_cast<CURLM*>(state_->session.multi());
    if (!multi)
        throw std::bad_alloc();
    curl_multi_setopt(multi, CURLMOPT_PIPELINING, long(CURLPIPE_MULTIPLEX));
    curl_multi_setopt(multi, CURLMOPT_MAX_HOST_CONNECTIONS, long(connections_));
    curl_multi_setopt(multi, CURLMOPT_MAX_CONCURRENT_STREAMS, long(MaxStreams));
    // Every kept connection stays kept, even while few transfers are in flight (by default
    // libcurl keeps four per transfer added, and would close the others).
    curl_multi_setopt(multi, CURLMOPT_MAXCONNECTS, long(connections_ + 4));
    worker_ = std::thread([this] { loop(); });
    syncer_ = std::thread([this] { syncLoop(); });
}

TransferEngine::~TransferEngine()
{
    aborted_ = true;
    stop_ = true;
    state_->session.wake();
    worker_.join();
    {
        std::lock_guard lock(mutex_);
    }
    syncWanted_.notify_all();
    syncer_.join();
    receiver_.reset();  // drops a posted OnReady
}

void TransferEngine::add(Request request)
{
    ++inFlight_;
    {
        std::lock_guard lock(mutex_);
        inbox_.push_back(std::move(request));
    }
    state_->session.wake();
}

void TransferEngine::abortAll()
{
    aborted_ = true;
    state_->session.wake();
}

void TransferEngine::take(std::vector<Outcome>& outcomes, std::map<qsizetype, Progress>& progress)
{
    std::lock_guard lock(mutex_);
    outcomes.swap(done_);
    done_.clear();
    progress.swap(progress_);
    progress_.clear();
}

QString TransferEngine::protocol() const
{
    switch (httpVersion_) {
    case CURL_HTTP_VERSION_1_0: return QStringLiteral("HTTP/1.0");
    case CURL_HTTP_VERSION_1_1: return QStringLiteral("HTTP/1.1");
    case CURL_HTTP_VERSION_2_0: return QStringLiteral("HTTP/2");
    case CURL_HTTP_VERSION_3: return QStringLiteral("HTTP/3");
    default: return {};
    }
}

void TransferEngine::loop()
{
    auto* multi = static_cast<CURLM*>(state_->session.multi());
    while (!stop_) {
        intake();
        if (aborted_)
            abortEverything();
        startDue();
        int active = 0;
        curl_multi_perform(multi, &active);
        collect();
        // Transfers that just ended make room: the next ones start before the wait, which a newly
        // added transfer cuts short, rather than after it when every connection fell idle at once.
        startDue();
        checkLimits();
        publishProgress(false);
        curl_multi_poll(multi, nullptr, 0, pollTimeoutMs(), nullptr);
    }
    abortEverything();
}

void TransferEngine::intake()
{
    std::vector<Request> arrived;
    {
        std::lock_guard lock(mutex_);
        arrived.swap(inbox_);
    }
    for (Request& request : arrived) {
        const qsizetype key = request.key;
        state_->pending[key] = Queued{std::move(request), 0};
    }
}

// Retries that are due join the queue; then the lowest keys start while there is room.
void TransferEngine::startDue()
{
    const auto now = Clock::now();
    auto& delayed = state_->delayed;
    while (!delayed.empty() && delayed.begin()->first <= now) {
        Queued queued = std::move(delayed.begin()->second);
        delayed.erase(delayed.begin());
        const qsizetype key = queued.request.key;
        state_->pending.emplace(key, std::move(queued));
    }
    auto& pending = state_->pending;
    while (!pending.empty() && int(state_->running.size()) < capacity_ && !aborted_) {
        Queued queued = std::move(pending.begin()->second);
        pending.erase(pending.begin());
        start(std::move(queued));
    }
}

void TransferEngine::start(Queued queued)
{
    ++queued.tries;
    auto running = std::make_unique<Running>(std::move(queued), state_->session, aborted_);
    Running& r = *running;
    if (!r.queued.request.sink)
        ContinuePartial(r.request, r.queued.request.file);
    r.transfer.shareExcluded(&state_->excluded);
    r.transfer.OnChunk = [this, &r](qint64 total, qint64 readed, bool) {
        r.progress = {total, readed};
        state_->progressChanged = true;
    };
    if (!r.transfer.prepare()) {
        finish(r, CURLE_OK, false);
        return;
    }
    void* easy = r.transfer.easy();
    if (curl_multi_add_handle(static_cast<CURLM*>(state_->session.multi()), static_cast<CURL*>(easy)) != CURLM_OK)
        throw std::bad_alloc();
    state_->running.emplace(easy, std::move(running));
}

void TransferEngine::collect()
{
    auto* multi = static_cast<CURLM*>(state_->session.multi());
    int queued = 0;
    while (CURLMsg* m = curl_multi_info_read(multi, &queued)) {
        if (m->msg != CURLMSG_DONE)
            continue;
        const auto found = state_->running.find(m->easy_handle);
        if (found == state_->running.end())
            continue;
        const CURLcode code = m->data.result;
        std::unique_ptr<Running> running = std::move(found->second);
        state_->running.erase(found);
        curl_multi_remove_handle(multi, m->easy_handle);
        finish(*running, code, true);
    }
}

// The time-outs of every transfer in flight, ten times a second.
void TransferEngine::checkLimits()
{
    const auto now = Clock::now();
    if (now - state_->lastCheck < kCheckEvery)
        return;
    state_->lastCheck = now;
    auto* multi = static_cast<CURLM*>(state_->session.multi());
    for (auto it = state_->running.begin(); it != state_->running.end();) {
        if (it->second->transfer.check()) {
            ++it;
            continue;
        }
        std::unique_ptr<Running> running = std::move(it->second);
        curl_multi_remove_handle(multi, static_cast<CURL*>(it->first));
        it = state_->running.erase(it);
        finish(*running, CURLE_OK, false);
    }
}

// A transfer that has left the multi handle: tried again when the failure may pass, otherwise
// reported (a finished file once it is durable).
void TransferEngine::finish(Running& running, int code, bool finished)
{
    TransferResult result = running.transfer.complete(code, finished);
    if (result.HttpVersion != 0) {
        httpVersion_ = result.HttpVersion;
        if (result.HttpVersion >= CURL_HTTP_VERSION_2_0)
            capacity_ = MaxStreams;
    }
    connectionsOpened_ += int(result.NewConnections);
    const Request& request = running.queued.request;
    const bool succeeded = SettleFileDownload(result, request.sink ? QString() : request.file, aborted_);
    if (!succeeded && result.Transient && request.retry && !aborted_ && running.queued.tries <= MaxRetries) {
        const qint64 delay = RetryDelayMs(running.queued.tries, retryDelayMs_, result.RetryAfterSeconds);
        state_->delayed.emplace(Clock::now() + std::chrono::milliseconds(delay), std::move(running.queued));
        return;
    }
    Outcome outcome;
    outcome.key = request.key;
    outcome.succeeded = succeeded;
    outcome.error = succeeded ? QString() : (aborted_ ? QStringLiteral("aborted") : result.Error);
    outcome.digest = succeeded ? running.fileSink.Digest : QByteArray();
    outcome.tries = running.queued.tries;
    outcome.status = result.HttpStatus;
    outcome.validator = result.Validator;
    settle(std::move(outcome), succeeded && request.durable && !request.sink, request.file);
}

void TransferEngine::settle(Outcome outcome, bool durable, const QString& file)
{
    --inFlight_;
    {
        std::lock_guard lock(mutex_);
        if (durable)
            unsynced_.emplace_back(std::move(outcome), file);
        else
            done_.push_back(std::move(outcome));
    }
    if (durable)
        syncWanted_.notify_one();
    post();  // with room for the next transfer, whether or not the outcome is in yet
}

void TransferEngine::publishProgress(bool force)
{
    const auto now = Clock::now();
    if (!state_->progressChanged || (!force && now - state_->lastProgress < kProgressEvery))
        return;
    state_->lastProgress = now;
    state_->progressChanged = false;
    {
        std::lock_guard lock(mutex_);
        for (const auto& [easy, running] : state_->running)
            progress_[running->queued.request.key] = running->progress;
    }
    post();
}

void TransferEngine::post()
{
    if (posted_.exchange(true) || !receiver_)
        return;
    QMetaObject::invokeMethod(
        receiver_.get(),
        [this] {
            posted_ = false;
            if (OnReady)
                OnReady();
        },
        Qt::QueuedConnection);
}

// Everything queued, waiting for a retry or in flight ends as aborted.
void TransferEngine::abortEverything()
{
    auto* multi = static_cast<CURLM*>(state_->session.multi());
    for (auto& [easy, running] : state_->running) {
        curl_multi_remove_handle(multi, static_cast<CURL*>(easy));
        finish(*running, CURLE_ABORTED_BY_CALLBACK, false);
    }
    state_->running.clear();
    std::vector<Queued> waiting;
    for (auto& [key, queued] : state_->pending)
        waiting.push_back(std::move(queued));
    for (auto& [due, queued] : state_->delayed)
        waiting.push_back(std::move(queued));
    state_->pending.clear();
    state_->delayed.clear();
    for (Queued& queued : waiting) {
        Outcome outcome;
        outcome.key = queued.request.key;
        outcome.error = QStringLiteral("aborted");
        outcome.tries = queued.tries;
        settle(std::move(outcome), false, {});
    }
}

int TransferEngine::pollTimeoutMs() const
{
    qint64 ms = kCheckEvery.count();
    if (!state_->delayed.empty()) {
        const auto due = std::chrono::duration_cast<std::chrono::milliseconds>(state_->delayed.begin()->first -
                                                                               Clock::now());
        ms = std::clamp<qint64>(due.count() + 1, 0, ms);
    }
    if (state_->progressChanged)
        ms = std::min<qint64>(ms, kProgressEvery.count());
    // Transfers that ended in this round left room: the queued ones start at once, not after the
    // next socket event or time-out (which, with every transfer ended, is the whole time-out).
    if (!state_->pending.empty() && int(state_->running.size()) < capacity_ && !aborted_)
        ms = 0;
    return int(ms);
}

// The syncer: one syncfs makes every file that finished meanwhile durable; only then are they
// reported, so a rename into the installation never precedes its file's data on disk.
void TransferEngine::syncLoop()
{
    for (;;) {
        std::vector<std::pair<Outcome, QString>> batch;
        {
            std::unique_lock lock(mutex_);
            syncWanted_.wait(lock, [&] { return !unsynced_.empty() || stop_; });
            if (stop_)
                return;
            batch.swap(unsynced_);
        }
        const Status synced = platform::syncFileSystem(QFileInfo(batch.front().second).absolutePath());
        const QString why = synced.error();
        {
            std::lock_guard lock(mutex_);
            for (auto& [outcome, file] : batch) {
                if (!synced) {
                    outcome.succeeded = false;
                    outcome.error = QStringLiteral("cannot write file: ") + why;
                }
                done_.push_back(std::move(outcome));
            }
        }
        post();
    }
}
