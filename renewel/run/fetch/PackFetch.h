#pragma once
// Fetches a file's missing chunks from its pack on the site or a mirror (PackRequests), straight
// into the file being built (PackReceiver), in rounds: each round asks one source for every chunk
// still missing, in as few requests as the source allows, and the next round asks again for what
// did not arrive. What a source allows is learnt and remembered for the run: a multi-range request
// answered 200 or 416 means single ranges there from then on (tried with one request before the
// others follow); a single range answered so means chunk objects there. A pack missing at a
// source (404), an answer that is not of the pack or breaks off, or a chunk that fails its hash
// where no other source is left, leaves the file's chunks to the chunk objects (RemoteChunks)
// there.

#include "chunk/PackReceiver.h"
#include "chunk/PackRequests.h"
#include "net/DownloadQueue.h"

#include <QHash>
#include <QSet>
#include <QString>

#include <functional>
#include <memory>
#include <optional>


class PackFetch {
public:
    struct Failure {
        QString url;
        QString reason;
    };
    struct Outcome {
        QList<qsizetype> left;  // places of chunks to fetch as chunk objects
        std::optional<Failure> failure;
    };
    using Progress = std::function<void(qint64 bytes)>;  // bytes arrived in this fetch so far
    using Done = std::function<void(Outcome)>;

    explicit PackFetch(DownloadQueue& queue);
    ~PackFetch();

    // What fetching the chunks at these places costs where multiple ranges are taken.
    static qint64 cost(const QList<qint64>& packOffsets, const QList<qsizetype>& places);

    // Fetches the chunks at these places (each chunk once, in index order) into the target; done
    // runs once. A fetch started before is forgotten.
    void fetch(std::shared_ptr<const PackTarget> target, QList<qsizetype> places, Progress progress, Done done);
    // Forgets the fetch under way: no callback of it runs any more.
    void stop();

private:
    enum class Mode { MultipleRanges, SingleRanges, Objects };
    struct Asked {
        std::shared_ptr<PackReceiver> receiver;
        qint64 readed = 0;
    };

    void round();
    void ended(PackReceiver* key, int source, Mode asked, const DownloadQueue::Outcome& outcome);
    void reportProgress();
    void roundEnded(int source);
    void finish(Outcome outcome);

    DownloadQueue& queue_;
    QHash<int, Mode> modes_;  // what each source takes, for the run
    QSet<int> proven_;        // sources that answered a range request with chunks
    quint64 fetch_ = 0;       // numbers the fetches, so that a forgotten one's ends are ignored
    std::shared_ptr<const PackTarget> target_;
    QList<qsizetype> places_;  // still missing, in index order
    QSet<int> packless_;       // sources whose pack of this file is missing or damaged
    QHash<PackReceiver*, Asked> asked_;  // the requests of the round under way
    qint64 arrived_ = 0;       // bytes of the requests ended
    bool progressed_ = false;  // in the round under way
    bool transportFailed_ = false;
    int idleRounds_ = 0;       // in a row without a chunk arriving
    QString lastUrl_, lastError_;
    Progress progress_;
    Done done_;
    std::unique_ptr<QObject> timers_;  // the pauses before a round asks again
};
