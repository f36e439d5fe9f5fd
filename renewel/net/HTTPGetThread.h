#pragma once
// THTTPGetThread: the worker of one download. On its own thread it runs the transfer into its
// sink (the file, or a text) and hands progress and completion to the thread of a context object
// (the component, on the main thread): progress is a blocking call made at most every 20 ms
// (plus one when the body is complete); completion is posted. It knows nothing of the component
// that starts it.

#include "net/HTTPEvents.h"
#include "net/HTTPRequest.h"

#include <QByteArray>
#include <QString>
#include <QThread>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>

class QEventLoop;
class HTTPSession;

class THTTPGetThread : public QThread, public std::enable_shared_from_this<THTTPGetThread> {
    Q_OBJECT
public:
    THTTPGetThread(HTTPRequest request, QString FileName, TOnProgressEvent OnProgress, bool ToFile,
                   std::shared_ptr<HTTPSession> session);
    ~THTTPGetThread() override;

    // Starts the body; when it ends, onDone runs on the context's thread (unless the context has
    // been destroyed or Detach was called).
    void Start(QObject* context, std::function<void()> onDone);
    // Ends the download as failed at the next moment the worker can notice (promptly, also while
    // the server sends nothing).
    void Terminate();
    bool IsTerminated() const { return terminated_; }
    // Cuts the worker off from its context: no call reaches it any more, and a worker waiting for
    // a main-thread call is released. For the component's destruction.
    void Detach();

    const HTTPRequest Request;
    const QString FileName;
    const bool ToFile;
    const TOnProgressEvent OnProgress;

    // The outcome, read by the main thread once the body has ended.
    std::atomic<bool> Succeeded{false};
    qint64 TotalSize = 0;  // announced length; 0 when none was announced
    qint64 Readed = 0;     // bytes received
    QByteArray ResultText;
    QByteArray Digest;  // SHA-256 of the body, when the request asked for it
    QString LastError;
    bool Transient = false;         // see TransferResult
    qint64 RetryAfterSeconds = -1;

    // Main-thread bookkeeping of the component: the wait loop of a waiting Fetch, and whether
    // DoneThread has run for this worker.
    QEventLoop* WaitLoop = nullptr;
    bool Handled = false;

protected:
    void run() override;

private:
    using Clock = std::chrono::steady_clock;

    void Execute();
    void Chunk(qint64 total, qint64 readed, bool complete);
    void SyncProgress(qint64 total, qint64 readed);
    void PostDone();

    std::shared_ptr<HTTPSession> session_;
    std::atomic<bool> terminated_{false};
    std::mutex mutex_;
    std::condition_variable called_;
    QObject* context_ = nullptr;  // guarded by mutex_; null once detached
    std::function<void()> onDone_;
    bool detached_ = false;      // guarded by mutex_
    Clock::time_point lastProgress_;
    qint64 reported_ = -1;
};
