#pragma once
// THTTPGetThread: the worker of one THTTPGet download. It runs the transfer with libcurl on its
// own thread, writes the body to the file (or collects it as text), and hands progress and
// completion to the main thread. Progress is a blocking call onto the main thread made at most
// every 20 ms (plus one when the body is complete); completion posts THTTPGet::DoneThread.

#include "HTTPGet.h"

#include <QByteArray>
#include <QFile>
#include <QString>
#include <QThread>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>

class QEventLoop;

// The parts of a download address.
struct THTTPUrl {
    bool Https = false;
    QString HostName;    // without the port
    quint16 Port = 80;   // 80 (443 for https) unless the address names one
    QString ObjectPath;  // from the first "/" after the host, included
    bool Valid = false;  // a host name and a usable port
};

class THTTPGetThread : public QThread, public std::enable_shared_from_this<THTTPGetThread> {
    Q_OBJECT
public:
    THTTPGetThread(const QByteArray& AcceptTypes, const QByteArray& Agent, const QString& URL,
                   const QString& FileName, const QByteArray& UserName, const QByteArray& Password,
                   const QByteArray& PostQuery, const QByteArray& Referer, bool BinaryData,
                   bool UseCache, TOnProgressEvent OnProgress, bool ToFile);
    ~THTTPGetThread() override;

    // Starts the body; when it ends, owner->DoneThread() runs on the main thread.
    void Start(THTTPGet* owner);
    // Ends the download as failed at the next moment the worker can notice (promptly, also while
    // the server sends nothing).
    void Terminate();
    bool IsTerminated() const { return terminated_; }
    // Cuts the worker off from its component: no call reaches the component any more, and a
    // worker waiting for a main-thread call is released. For the component's destruction.
    void Detach();

    // "http://" (any case) or "https://" prefix, host up to the first "/", optional ":port",
    // object path from that "/". Without a "/" the host is empty and the path is the rest.
    static THTTPUrl SplitUrl(const QString& URL);

    // Copies taken at start.
    const QByteArray AcceptTypes;
    const QByteArray Agent;
    const QString URL;
    const QString FileName;
    QByteArray ResultText;
    const QByteArray UserName;
    const QByteArray Password;
    const QByteArray PostQuery;
    const QByteArray Referer;
    const bool BinaryData;
    const bool UseCache;
    std::atomic<bool> Succeeded{false};
    qint64 TotalSize = 0;  // announced length; 0 when none was announced
    const bool ToFile;
    qint64 Readed = 0;     // bytes received so far
    const TOnProgressEvent OnProgress;

    qint64 ConnectTimeoutMs = 30000;
    qint64 StallLimitMs = 60000;

    // Main-thread bookkeeping of the component: the wait loop of a waiting Fetch, and whether
    // DoneThread has run for this worker.
    QEventLoop* WaitLoop = nullptr;
    bool Handled = false;

protected:
    void run() override;

private:
    using Clock = std::chrono::steady_clock;

    void Execute();
    bool BeginBody(void* curl);
    bool Receive(const char* data, qint64 size);
    void MaybeProgress(bool force);
    void SyncProgress();
    void PostDone();

    static size_t WriteCallback(char* data, size_t size, size_t count, void* self);
    static size_t HeaderCallback(char* data, size_t size, size_t count, void* self);

    std::atomic<bool> terminated_{false};
    void* multi_ = nullptr;  // CURLM*, alive as long as this object so Terminate can wake it
    std::mutex mutex_;
    std::condition_variable called_;
    THTTPGet* owner_ = nullptr;  // guarded by mutex_; null once detached
    bool detached_ = false;      // guarded by mutex_

    void* easy_ = nullptr;       // CURL* of the running transfer
    bool started_ = false;       // a 2xx final response has begun; the file is open
    bool failed_ = false;        // the body was refused (status, missing length, file error)
    QFile file_;
    Clock::time_point lastActivity_;
    Clock::time_point lastProgress_;
    qint64 reported_ = -1;
};
