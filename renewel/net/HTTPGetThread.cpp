#include "net/HTTPGetThread.h"

#include "net/HTTPSink.h"
#include "net/PartialDownload.h"
#include "net/HTTPTransfer.h"

#include <QFile>
#include <QFileInfo>
#include <QMetaObject>

namespace {
constexpr auto kProgressInterval = std::chrono::milliseconds(20);
}

THTTPGetThread::THTTPGetThread(HTTPRequest request, QString FileName, TOnProgressEvent OnProgress,
                               bool ToFile, std::shared_ptr<HTTPSession> session)
    : Request(std::move(request)), FileName(std::move(FileName)), ToFile(ToFile),
      OnProgress(std::move(OnProgress)), session_(std::move(session))
{
}

THTTPGetThread::~THTTPGetThread() { wait(); }

void THTTPGetThread::Start(QObject* context, std::function<void()> onDone)
{
    {
        std::lock_guard lock(mutex_);
        context_ = context;
        onDone_ = std::move(onDone);
    }
    start();
}

void THTTPGetThread::Terminate()
{
    terminated_ = true;
    Succeeded = false;
    session_->wake();
}

void THTTPGetThread::Detach()
{
    {
        std::lock_guard lock(mutex_);
        context_ = nullptr;
        detached_ = true;
    }
    called_.notify_all();
}

void THTTPGetThread::run()
{
    try {
        Execute();
    } catch (...) {
        Succeeded = false;
        LastError = QStringLiteral("out of memory");
    }
    if (terminated_) {
        Succeeded = false;
        LastError = QStringLiteral("aborted");
    }
    PostDone();
}

void THTTPGetThread::Execute()
{
    FileSink file(FileName, Request.HashBody, Request.SyncToDisk);
    TextSink text;
    HTTPSink& sink = ToFile ? static_cast<HTTPSink&>(file) : text;
    HTTPRequest request = Request;
    if (ToFile)
        ContinuePartial(request, FileName);
    HTTPTransfer transfer(request, sink, *session_, terminated_);
    transfer.OnChunk = [this](qint64 total, qint64 readed, bool complete) { Chunk(total, readed, complete); };
    TransferResult result = transfer.run();
    TotalSize = result.TotalSize;
    Readed = result.Bytes;
    ResultText = std::move(text.Result);
    Digest = file.Digest;
    if (ToFile) {
        Succeeded = SettleFileDownload(result, FileName, terminated_);
    } else {
        // A text needs at least one byte.
        if (result.Succeeded && Readed == 0)
            result.Error = QStringLiteral("empty body");
        Succeeded = result.Succeeded && result.Error.isEmpty() && !terminated_;
    }
    LastError = result.Error;
    Transient = result.Transient;
    RetryAfterSeconds = result.RetryAfterSeconds;
}

void THTTPGetThread::PostDone()
{
    std::lock_guard lock(mutex_);
    if (!context_)
        return;
    // Queued on the context: if it is destroyed before this runs, Qt drops the call.
    QMetaObject::invokeMethod(context_, onDone_, Qt::QueuedConnection);
}

void THTTPGetThread::Chunk(qint64 total, qint64 readed, bool complete)
{
    TotalSize = total;
    Readed = readed;
    if (!OnProgress || readed == reported_)
        return;
    const auto now = Clock::now();
    if (!complete && reported_ >= 0 && now - lastProgress_ < kProgressInterval)
        return;
    reported_ = readed;
    SyncProgress(total, readed);
    lastProgress_ = Clock::now();
}

// Runs OnProgress on the main thread and waits for it, unless the component lets go first.
void THTTPGetThread::SyncProgress(qint64 total, qint64 readed)
{
    struct Call {
        bool done = false;
    };
    auto call = std::make_shared<Call>();
    std::unique_lock lock(mutex_);
    if (!context_)
        return;
    auto self = shared_from_this();
    QMetaObject::invokeMethod(
        context_,
        [self, call, total, readed] {
            // Mark the call done however the handler leaves, so the worker never waits forever.
            struct Done {
                THTTPGetThread* t;
                Call* c;
                ~Done()
                {
                    {
                        std::lock_guard l(t->mutex_);
                        c->done = true;
                    }
                    t->called_.notify_all();
                }
            } done{self.get(), call.get()};
            self->OnProgress(self.get(), total, readed);
        },
        Qt::QueuedConnection);
    called_.wait(lock, [&] { return call->done || detached_; });
}
