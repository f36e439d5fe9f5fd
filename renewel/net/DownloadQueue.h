#pragma once
// The update run's downloads by site-relative name: each is started on one transfer engine (see
// TransferEngine: HTTP/2 multiplexed where offered, else up to N HTTP/1.1 connections; transient
// failures tried again; files durable before they are reported) from a live source of the site
// (SiteSources), and its end is reported on the owner's thread through a callback. A download
// that fails at a source, or whose file the caller's check refuses, drops exactly that source
// and starts over at another; it fails only when no source is left. Nothing here waits.
//
//   DownloadQueue::Fetch fetch;
//   fetch.name = "/maps/a.ivm";  fetch.file = ...;  fetch.maxSize = 5;
//   queue.start(fetch, [](const DownloadQueue::Outcome& o) { ... o.succeeded, o.error ... });

#include <QByteArray>
#include <QObject>
#include <QString>

#include <functional>
#include <map>
#include <memory>

class HTTPSink;
class TransferEngine;
class SiteSources;
struct HTTPSettings;
class RateLimiter;

class DownloadQueue : public QObject {
    Q_OBJECT
public:
    // Which downloads the engine starts first: a file being built now, the lists, then the
    // entries in list order.
    enum class Order { Now, Lists, InList };

    struct Outcome {
        bool succeeded = false;
        QString error;  // why it failed
        QString url;    // where it was fetched from, or failed last
        QString file;
        QByteArray digest;
        int source = -1;
        long status = 0;       // HTTP status of the final response (304: not changed)
        QByteArray validator;  // its ETag, else its Last-Modified
    };
    struct Fetch {
        QString name;        // relative to the site, escaped for a URL, "/" separated
        QString file;
        // The body goes to this sink instead of file (see HTTPSink), asking for these ranges
        // ("0-99,200-299"; empty: the whole resource).
        std::shared_ptr<HTTPSink> sink;
        QByteArray ranges;
        qint64 maxSize = 0;  // the listed size: longer fails; a partial file of this size continues
        bool hash = false;
        bool retry = true;    // transient failures are tried again while no other source could take over
        bool resume = true;   // a partial file of maxSize bytes left by an earlier try is continued
        bool durable = true;  // on disk for good before it counts as done
        // Named by its content (chunks, indexes, deltas): it never changes under its name, so
        // caches on the way may answer. Anything named by path asks past them.
        bool cacheable = false;
        bool compressed = false;  // offered compressed (the lists): it arrives decoded
        QByteArray validator;     // only when changed from this version (see HTTPSettings)
        Order order = Order::InList;
        qsizetype place = 0;  // within InList: lower goes first
        // One source only (lists): its failure is reported, nothing is dropped. -1: any source.
        int source = -1;
        // Why a finished download is not what was asked for (empty: it is). Called on the owner's
        // thread; a refusal counts as the source's failure.
        std::function<QString(const Outcome&)> check;
    };
    using Done = std::function<void(const Outcome&)>;
    using Progress = std::function<void(qint64 total, qint64 readed)>;

    // model: the settings every download copies (the window's component, say); connections: the
    // most HTTP/1.1 connections at once.
    DownloadQueue(const HTTPSettings& model, SiteSources& sources, int connections,
                  std::shared_ptr<RateLimiter> rateLimit, qint64 retryDelayMs = 1000);
    // Aborts and joins: no callback runs afterwards.
    ~DownloadQueue() override;

    // Starts a download; done runs once, later, on this thread. Returns its id.
    quint64 start(Fetch fetch, Done done);
    // Where the download's progress goes from now on (nothing: nowhere).
    void follow(quint64 id, Progress progress);
    // Whether starting another download now keeps the engine busy rather than queueing far ahead.
    bool hasRoom() const;
    // Aborts everything in flight; each reports its failure ("aborted"), no source is dropped.
    void abortAll();
    // Drops the source a finished download came from, when its file turned out bad later.
    void dropSource(int source, const QString& why);
    SiteSources& sources() { return sources_; }
    // Runs whenever downloads have ended (to start the next ones).
    std::function<void()> onSlotFree;

    // What the downloads used so far: "HTTP/2", "HTTP/1.1", and how many connections they opened.
    QString protocol() const;
    int connectionsOpened() const;

private:
    struct Job {
        Fetch fetch;
        Done done;
        Progress progress;
        int source = -1;
        QString url;
    };
    void submit(quint64 id, Job& job);
    void arrived();
    void ended(quint64 id, Outcome outcome);
    void failOver(quint64 id, Job& job, const QString& why);
    void report(quint64 id, Outcome outcome);
    qsizetype keyFor(const Fetch& fetch);

    std::unique_ptr<HTTPSettings> model_;
    SiteSources& sources_;
    std::unique_ptr<TransferEngine> engine_;
    std::map<quint64, Job> jobs_;
    std::map<qsizetype, quint64> byKey_;  // the engine's key of each running download
    quint64 nextId_ = 1;
    qsizetype serial_ = 0;
    bool aborting_ = false;
};
