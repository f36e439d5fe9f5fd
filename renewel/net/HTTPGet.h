#pragma once
// THTTPGet: a non-visual component that fetches one resource over HTTP/1.0 on a worker thread
// into a local file, and reports progress, completion and failure through events that always
// run on the main thread.
//
// Addresses: "http://host[:port]/path" (the prefix may be left out) or "https://host[:port]/path";
// redirects are followed (at most 10, http and https only). HTTPS verifies the server
// certificate against the system's CAs, or against the PEM bundle named by the environment
// variable RENEWEL_CA_BUNDLE when that is set.

#include "net/HTTPEvents.h"
#include "net/HTTPRequest.h"

#include <QByteArray>
#include <QObject>
#include <QString>
#include <functional>
#include <memory>

class THTTPGetThread;
class HTTPSession;
class RateLimiter;


class THTTPGet : public QObject, public HTTPSettings {
    Q_OBJECT
public:
    explicit THTTPGet(QObject* owner = nullptr);
    // Aborts a running download and waits for its worker: no event reaches a destroyed component.
    ~THTTPGet() override;

    // The settings (AcceptTypes, Agent, BinaryData, URL, UseCache, UserName, Password, PostQuery,
    // Referer, the limits; see HTTPSettings) are read when a download starts and have no effect
    // on a running one.
    QString FileName;          // local file that receives the response
    bool WaitThread = false;   // true: Fetch returns after the download has ended

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
    // Runs on the main thread once the worker has ended.
    void DoneThread();

    bool succeeded_ = false;
    QString lastError_;
    QByteArray digest_;
    bool transient_ = false;
    qint64 retryAfter_ = -1;
    std::shared_ptr<THTTPGetThread> running_;
    // Kept from one download to the next, so its connections can be reused.
    std::shared_ptr<HTTPSession> session_;
};
