#pragma once
// One HTTP transfer with libcurl: sends the request, accepts the final response only with a 2xx
// status (and a length where BinaryData asks for one), feeds the body to a sink, and ends with
// what happened. It enforces the request's limits: the connect time-out, the response headers
// within the time-out after that, a body that averages fewer than MinBytesPerSecond over any
// StallLimitMs, and MaxSize. run() drives it alone on the calling thread; a transfer engine drives
// many on one multi handle through prepare(), check() and complete() instead.

#include "net/HTTPRequest.h"

#include <QString>

#include <atomic>
#include <chrono>
#include <functional>
#include <memory>
#include <vector>

class HTTPSink;

// The connections of one download component: a libcurl multi handle that keeps its connections
// from one transfer to the next, and that wake interrupts from any thread.
class HTTPSession {
public:
    HTTPSession();
    ~HTTPSession();
    HTTPSession(const HTTPSession&) = delete;
    HTTPSession& operator=(const HTTPSession&) = delete;
    void* multi() const { return multi_; }  // CURLM*
    void wake();

private:
    void* multi_ = nullptr;
};

struct TransferResult {
    bool Succeeded = false;  // the transfer ended normally; whether the length fits is the caller's rule
    int CurlResult = 0;      // CURLcode
    long HttpStatus = 0;     // of the final response; 0 when none arrived
    qint64 TotalSize = 0;    // the announced length; 0 when none was announced
    qint64 Bytes = 0;        // body bytes received
    QString Error;           // why it failed, for people ("HTTP 404", "connection refused", ...)
    // The failure may pass if the same request is made again (refused or reset connection,
    // stall, time-out, short body, HTTP 5xx or 429).
    bool Transient = false;
    qint64 RetryAfterSeconds = -1;  // the server's Retry-After, when it sent one in seconds
    qint64 Resumed = 0;             // bytes of the file kept from before (Bytes counts them too)
    long HttpVersion = 0;           // CURL_HTTP_VERSION_* the response came with; 0 when none
    long NewConnections = 0;        // connections the transfer opened (0: it reused one)
    bool StartOver = false;         // the partial file can't be continued: the next try starts anew
    QByteArray Validator;           // the final response's ETag, else its Last-Modified
};

class HTTPTransfer {
public:
    using Clock = std::chrono::steady_clock;

    HTTPTransfer(const HTTPRequest& request, HTTPSink& sink, HTTPSession& session,
                  const std::atomic<bool>& terminated);

    // Called on the transfer's thread after every chunk (and once more with complete = true when
    // the body has fully arrived). Time spent inside it does not count toward the stall limit.
    std::function<void(qint64 total, qint64 readed, bool complete)> OnChunk;

    TransferResult run();

    // For a caller that drives the multi handle itself: prepare sets up the easy handle (false:
    // the transfer has already failed, see complete); check says whether the transfer may go on
    // at this moment (false: headers too late or stalled; remove it and complete it); complete
    // settles the result once the handle is off the multi handle (code: its CURLcode; finished:
    // curl reported it done).
    bool prepare();
    void* easy() const { return easy_; }  // CURL*
    bool check();
    TransferResult complete(int code, bool finished);
    // Time the transfer must not count toward its stall limit (the rate limit's pauses, the
    // progress calls); by default its own, an engine shares one among its transfers.
    void shareExcluded(Clock::duration* excluded) { excludedTime_ = excluded; }
    Clock::time_point now() const { return Clock::now() - *excludedTime_; }

private:
    bool setup(void* easy);
    void addHeader(const QByteArray& line);
    void addRequestHeaders();
    void setProtocol(void* easy, bool https) const;
    void setCallbacks(void* easy);
    void setRequestFields(void* easy) const;
    bool setCaBundle(void* easy, bool https);
    bool begin();
    bool receive(const char* data, qint64 size);
    void chunk(bool complete);
    bool headersLate(Clock::time_point now) const;
    bool stalled(Clock::time_point now);
    QString curlError(int code) const;
    QString refusedRedirect() const;

    void pause(std::chrono::microseconds wait);
    static size_t writeCallback(char* data, size_t size, size_t count, void* self);
    static size_t headerCallback(char* data, size_t size, size_t count, void* self);

    const HTTPRequest& request_;
    HTTPSink& sink_;
    HTTPSession& session_;
    const std::atomic<bool>& terminated_;

    struct Owned;
    std::shared_ptr<Owned> owned_;  // the easy handle and its header list
    void* easy_ = nullptr;
    bool started_ = false;
    bool stall_ = false, late_ = false;
    TransferResult result_;
    QString refusal_;  // why the body was refused, when it was
    bool drainRefused_ = false;  // the refused body is read and dropped (an error page)
    qint64 drained_ = 0;
    bool local_ = false;  // the failure is ours (the file could not be written), not the network's
    QByteArray validator_;  // ETag, else Last-Modified, of the current response
    QByteArray location_;   // Location of the current response, naming a refused redirect
    qint64 rangeStart_ = -1, rangeTotal_ = -1;  // its Content-Range
    QByteArray contentType_, contentRange_;     // as they came
    bool encoded_ = false;  // its body comes with a Content-Encoding, decoded on the way

    // Stall accounting on a clock that stops while OnChunk runs.
    Clock::duration excluded_{};
    Clock::duration* excludedTime_ = &excluded_;
    Clock::time_point start_;
    struct Sample {
        Clock::time_point at;
        qint64 bytes;
    };
    std::vector<Sample> samples_;  // one every 100 ms at most, oldest first
    size_t firstSample_ = 0;
};
