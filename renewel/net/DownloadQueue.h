#pragma once
// The update run's downloads, as the run's main thread sees them: jobs started in list order on
// one transfer engine (see TransferEngine: HTTP/2 multiplexed where offered, else up to N
// HTTP/1.1 connections; transient failures tried again; files durable before they are
// reported) and awaited in list order, with events flowing meanwhile.

#include <QByteArray>
#include <QString>

#include <functional>
#include <map>
#include <memory>

class QEventLoop;
class TransferEngine;
struct HTTPSettings;
class RateLimiter;

class DownloadQueue {
public:
    struct Job {
        QString url;
        QString file;
        qint64 maxSize = 0;  // the listed size: longer fails; a partial file of this size continues
        bool hash = false;
        bool retry = true;    // transient failures are tried again
        bool resume = true;   // a partial file of maxSize bytes left by an earlier try is continued
        bool durable = true;  // on disk for good before it counts as done
        int tries = 0;
        bool done = false;
        bool succeeded = false;
        QString error;
        QByteArray digest;
    };

    // model: the settings every download copies (the window's component, say); connections: the
    // most HTTP/1.1 connections at once.
    DownloadQueue(const HTTPSettings& model, int connections, std::shared_ptr<RateLimiter> rateLimit,
                   qint64 retryDelayMs = 1000);
    ~DownloadQueue();

    // Whether starting another download now keeps the engine busy rather than queueing far ahead.
    bool HasRoom() const;
    // Starts the download of one entry (key: its place in the list; the lowest keys go first).
    void Start(qsizetype key, Job job);
    bool Has(qsizetype key) const { return jobs_.count(key) != 0; }
    // Waits, with events flowing, until the entry's download has ended for good; its progress
    // goes to onProgress meanwhile. The job is then taken off the queue.
    Job Await(qsizetype key, const std::function<void(qint64, qint64)>& onProgress);
    // Aborts everything in flight; Await then returns promptly.
    void AbortAll();
    // Runs whenever downloads have ended (to start the next ones).
    std::function<void()> OnSlotFree;

    // What the downloads used so far: "HTTP/2", "HTTP/1.1", and how many connections they opened.
    QString Protocol() const;
    int ConnectionsOpened() const;

    static constexpr int MaxRetries = 3;

private:
    void arrived();

    std::unique_ptr<HTTPSettings> model_;
    std::unique_ptr<TransferEngine> engine_;
    std::map<qsizetype, Job> jobs_;
    static constexpr qsizetype None = -(qsizetype(1) << 62);
    qsizetype awaited_ = None;
    std::function<void(qint64, qint64)> progress_;
    QEventLoop* wait_ = nullptr;
};
