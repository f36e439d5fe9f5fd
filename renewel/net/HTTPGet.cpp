#include "net/HTTPGet.h"

#include "net/HTTPGetThread.h"
#include "net/HTTPTransfer.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QPointer>

#include <curl/curl.h>

#include <mutex>

THTTPGet::THTTPGet(QObject* owner) : QObject(owner)
{
    // libcurl's global set-up must not race with a transfer: do it once, on the main thread.
    static std::once_flag once;
    std::call_once(once, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
}

THTTPGet::~THTTPGet()
{
    if (auto worker = running_) {
        worker->Terminate();
        worker->Detach();  // releases a worker blocked on a progress call to us
        worker->wait();
        worker->Handled = true;
        if (worker->WaitLoop)
            worker->WaitLoop->quit();
        running_.reset();
    }
}

bool THTTPGet::Running() const { return running_ != nullptr; }

void THTTPGet::Fetch()
{
    if (running_)
        return;
    HTTPRequest request;
    static_cast<HTTPSettings&>(request) = *this;
    if (!session_)
        session_ = std::make_shared<HTTPSession>();
    auto worker = std::make_shared<THTTPGetThread>(std::move(request), FileName, OnProgress, true, session_);
    running_ = worker;
    worker->Start(this, [this] { DoneThread(); });
    if (!WaitThread)
        return;

    // Sleep in an event loop until DoneThread has run: events keep flowing, no core spins.
    QPointer<THTTPGet> self(this);
    QEventLoop loop;
    worker->WaitLoop = &loop;
    while (!worker->Handled && self) {
        loop.exec();
        // After an application quit Qt's event loops return at once; wait for the next event
        // instead, so the wait neither spins nor misses DoneThread.
        if (!worker->Handled && self)
            QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
    }
    worker->WaitLoop = nullptr;
}

void THTTPGet::Abort()
{
    if (running_)
        running_->Terminate();
}

void THTTPGet::DoneThread()
{
    const std::shared_ptr<THTTPGetThread> worker = running_;
    if (!worker)
        return;
    worker->wait();

    // However the handlers leave (an exception, or destroying this component), the download
    // counts as over: the reference is cleared and a waiting Fetch returns.
    QPointer<THTTPGet> self(this);
    struct Finish {
        QPointer<THTTPGet>& self;
        const std::shared_ptr<THTTPGetThread>& worker;
        ~Finish()
        {
            if (self && self->running_ == worker)
                self->running_.reset();
            worker->Handled = true;
            if (worker->WaitLoop)
                worker->WaitLoop->quit();
        }
    } finish{self, worker};

    succeeded_ = worker->Succeeded;
    lastError_ = succeeded_ ? QString() : worker->LastError;
    digest_ = succeeded_ ? worker->Digest : QByteArray();
    transient_ = !succeeded_ && worker->Transient;
    retryAfter_ = worker->RetryAfterSeconds;
    if (succeeded_) {
        if (worker->ToFile) {
            if (const TOnDoneFileEvent handler = OnDoneFile)
                handler(this, worker->FileName, worker->TotalSize);
        } else if (const TOnDoneStringEvent handler = OnDoneString) {
            handler(this, worker->ResultText);
        }
    } else if (const TNotifyEvent handler = OnError) {
        handler(this);
    }
}
