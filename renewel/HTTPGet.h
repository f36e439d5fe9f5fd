#pragma once
// THTTPGet: a non-visual component that fetches one resource over HTTP/1.0 on a worker thread
// into a local file, and reports progress, completion and failure through events that always
// run on the main thread.
//
// Addresses: "http://host[:port]/path" (the prefix may be left out) or "https://host[:port]/path";
// redirects are followed (at most 10, http and https only). HTTPS verifies the server
// certificate against the system's CAs, or against the PEM bundle named by the environment
// variable RENEWEL_CA_BUNDLE when that is set.

#include <QByteArray>
#include <QObject>
#include <QString>
#include <functional>
#include <memory>

class THTTPGetThread;
class THTTPSession;
class TRateLimiter;

using TNotifyEvent = std::function<void(QObject* Sender)>;
using TOnProgressEvent = std::function<void(QObject* Sender, qint64 TotalSize, qint64 Readed)>;
using TOnDoneFileEvent = std::function<void(QObject* Sender, const QString& FileName, qint64 FileSize)>;
using TOnDoneStringEvent = std::function<void(QObject* Sender, const QByteArray& Result)>;

class THTTPGet : public QObject {
    Q_OBJECT
public:
    explicit THTTPGet(QObject* owner = nullptr);
    // Aborts a running download and waits for its worker: no event reaches a destroyed component.
    ~THTTPGet() override;

    // Settings; each one is read when a download starts and has no effect on a running one.
    QByteArray AcceptTypes = "*/*";
    QByteArray Agent = "Quillnet HTTPGet";  // empty: no agent
    bool BinaryData = false;                // true: a response without a content length fails
    QString URL;                            // "http://host[:port]/path" or "https://..."
    bool UseCache = false;                  // false: every request bypasses caches
    QString FileName;                       // local file that receives the response
    QByteArray UserName;
    QByteArray Password;
    QByteArray PostQuery;                   // empty: GET; otherwise a form-encoded POST body
    QByteArray Referer;
    bool WaitThread = false;                // true: Fetch returns after the download has ended

    // Limits that end a download as failed (not published; tests shorten the times).
    qint64 ConnectTimeoutMs = 30000;  // connecting to the server
    qint64 StallLimitMs = 60000;      // headers after connecting; body below 100 bytes/s over this long
    qint64 MaxSize = 0;               // a longer body fails, cut after MaxSize + 1 bytes; 0: none
    bool HashBody = false;            // compute the SHA-256 of the body while it is written
    bool SyncToDisk = false;          // flush the finished file to disk (on the worker) first
    std::shared_ptr<TRateLimiter> RateLimit;  // a byte budget shared with other downloads
    // The file's full size when known: a partial FileName left by an earlier try is then
    // continued where it ends (see THTTPRequest). -1: always start over.
    qint64 ExpectedSize = -1;

    TOnProgressEvent OnProgress;
    TOnDoneFileEvent OnDoneFile;
    TOnDoneStringEvent OnDoneString;
    TNotifyEvent OnError;

    // Starts a download of URL into FileName unless one is running (then nothing happens).
    void Fetch();
    // Ends a running download as failed; does nothing when idle. Does not wait.
    void Abort();
    // Outcome of the last download that ended.
    bool Succeeded() const { return succeeded_; }
    bool Running() const;
    // Why the last download that ended failed ("HTTP 404", "connection refused", "stalled for
    // 60 s", "disk full", ...); empty after a success.
    QString LastError() const { return lastError_; }
    // The SHA-256 (32 bytes) of the last successful download, when HashBody asked for it.
    QByteArray Digest() const { return digest_; }
    // Whether the last failure may pass on another try, and the server's Retry-After (-1: none).
    bool LastErrorTransient() const { return transient_; }
    qint64 RetryAfterSeconds() const { return retryAfter_; }

private:
    friend class THTTPGetThread;
    void DoneThread();

    bool succeeded_ = false;
    QString lastError_;
    QByteArray digest_;
    bool transient_ = false;
    qint64 retryAfter_ = -1;
    std::shared_ptr<THTTPGetThread> running_;
    // Kept from one download to the next, so its connections can be reused.
    std::shared_ptr<THTTPSession> session_;
};
