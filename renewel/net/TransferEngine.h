#pragma once
// The update run's transfer engine: one worker thread drives every download on one libcurl multi
// handle: HTTP/2 streams multiplexed on one connection where the server offers it over TLS,
// otherwise HTTP/1.1 on up to `connections` kept connections. Requests are queued from the owner's
// thread and started lowest key first, as many at once as the protocol allows; a failure that may
// pass is tried again after 1, 2 and 4 s (or the server's Retry-After, up to 30 s), continuing
// the partial file. Finished files are made durable in batches (one syncfs for every file that
// finished meanwhile) before they are reported. Outcomes and progress reach the owner's thread
// in batches: OnReady runs there (posted, at most one pending), and take collects them.

#include "net/HTTPRequest.h"

#include <QByteArray>
#include <QString>

#include <atomic>
#include <condition_variable>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

class HTTPSink;
class QObject;

class TransferEngine {
public:
    struct Request {
        qsizetype key = 0;
        HTTPRequest request;  // the settings, with MaxSize, ExpectedSize and HashBody for this file
        QString file;
        // The body goes here instead of to file (nothing is continued or made durable then).
        std::shared_ptr<HTTPSink> sink;
        bool retry = true;    // transient failures are tried again
        bool durable = true;  // reported only once on disk for good
    };
    struct Outcome {
        qsizetype key = 0;
        bool succeeded = false;
        QString error;
        QByteArray digest;
        int tries = 0;
        long status = 0;       // HTTP status of the final response; 0 when none arrived
        QByteArray validator;  // its ETag, else its Last-Modified
    };
    struct Progress {
        qint64 total = 0;
        qint64 readed = 0;
    };

    static constexpr int MaxRetries = 3;
    static constexpr int MaxStreams = 100;  // HTTP/2 streams in flight on the one connection

    TransferEngine(int connections, qint64 retryDelayMs);
    // Aborts what is in flight and joins the workers; OnReady is not called any more.
    ~TransferEngine();
    TransferEngine(const TransferEngine&) = delete;
    TransferEngine& operator=(const TransferEngine&) = delete;

    void add(Request request);
    // Ends everything queued or in flight as failed ("aborted"), promptly.
    void abortAll();
    std::function<void()> OnReady;
    // The outcomes that have arrived since the last call, and the latest progress of the
    // transfers that are running.
    void take(std::vector<Outcome>& outcomes, std::map<qsizetype, Progress>& progress);

    // Transfers worth having in flight now: `connections` until an HTTP/2 answer has come, then
    // the streams one connection carries.
    int capacity() const { return capacity_; }
    // Requests added whose transfer has not ended yet (queued, running or waiting for a retry).
    int inFlight() const { return inFlight_; }
    // "HTTP/2", "HTTP/1.1" or "HTTP/1.0" of the latest answer (empty before one), and how many
    // connections the transfers opened.
    QString protocol() const;
    int connectionsOpened() const { return connectionsOpened_; }

private:
    struct Queued;
    struct Running;
    void loop();
    void intake();
    void startDue();
    void start(Queued queued);
    void collect();
    void checkLimits();
    void finish(Running& running, int code, bool finished);
    void settle(Outcome outcome, bool durable, const QString& file);
    void publishProgress(bool force);
    void post();
    void abortEverything();
    void syncLoop();
    int pollTimeoutMs() const;

    const int connections_;
    const qint64 retryDelayMs_;
    std::unique_ptr<QObject> receiver_;  // on the owner's thread: OnReady runs through it
    std::atomic<bool> aborted_{false};
    std::atomic<bool> stop_{false};
    std::atomic<bool> posted_{false};
    std::atomic<int> capacity_;
    std::atomic<long> httpVersion_{0};
    std::atomic<int> connectionsOpened_{0};
    std::atomic<int> inFlight_{0};

    // Shared with the owner's thread and the syncer, under mutex_.
    std::mutex mutex_;
    std::condition_variable syncWanted_;
    std::vector<Request> inbox_;
    std::vector<Outcome> done_;
    std::map<qsizetype, Progress> progress_;
    std::vector<std::pair<Outcome, QString>> unsynced_;  // finished files awaiting syncfs

    // The worker's own.
    struct State;
    std::unique_ptr<State> state_;
    std::thread worker_;
    std::thread syncer_;
};
