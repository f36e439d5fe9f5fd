#pragma once
// Up to N downloads in flight at once, each on a download component of its own set up like the
// window's, so that each keeps its connection from one file to the next. A failure that may pass
// (a refused or reset connection, a stall, a short body, HTTP 5xx or 429) is tried again up to
// three more times, after 1, 2 and 4 s (or the server's Retry-After, up to 30 s); others end the
// job at once. The run starts jobs in list order and awaits them in list order.

#include <QByteArray>
#include <QString>

#include <functional>
#include <map>
#include <memory>
#include <vector>

class QEventLoop;
class THTTPGet;
struct THTTPSettings;
class TRateLimiter;

class TDownloadQueue {
public:
    struct Job {
        QString url;
        QString file;
        qint64 maxSize = 0;  // the listed size: longer fails; a partial file of this size continues
        bool hash = false;
        int tries = 0;
        bool done = false;
        bool succeeded = false;
        QString error;
        QByteArray digest;
        int slot = -1;
    };

    // model: the settings every download copies (the window's component, say).
    TDownloadQueue(const THTTPSettings& model, int connections, std::shared_ptr<TRateLimiter> rateLimit,
                   qint64 retryDelayMs = 1000);
    ~TDownloadQueue();

    bool HasRoom() const;
    // Starts the download of one entry (key: its place in the list).
    void Start(qsizetype key, Job job);
    bool Has(qsizetype key) const { return jobs_.count(key) != 0; }
    // Waits, with events flowing, until the entry's download has ended for good; its progress
    // goes to onProgress meanwhile. The job is then taken off the queue.
    Job Await(qsizetype key, const std::function<void(qint64, qint64)>& onProgress);
    // Aborts everything in flight; Await then returns at once.
    void AbortAll();
    // Runs whenever a slot has become free (to start the next downloads).
    std::function<void()> OnSlotFree;

    static constexpr int MaxRetries = 3;

private:
    void fetch(qsizetype key);
    void ended(int slot);

    std::vector<std::unique_ptr<THTTPGet>> slots_;
    std::vector<qsizetype> slotJob_;  // the key each slot works for; -1 when free
    std::map<qsizetype, Job> jobs_;
    qsizetype awaited_ = -1;
    std::function<void(qint64, qint64)> progress_;
    QEventLoop* wait_ = nullptr;
    bool aborted_ = false;
    qint64 retryDelayMs_;
};
