#pragma once
// A listed file fetched whole from the site's sources, under a name of its own in the download
// folder. A download that is not the listed file (another size, another SHA-256 than update.sums
// names) counts as its source's failure: the source is dropped and another one asked. A complete
// copy an earlier run left in the download folder is used again once its SHA-256 proves it the
// listed file; without a checksum nothing vouches for it, and it is fetched again.

#include "run/fetch/BackgroundTasks.h"
#include "run/fetch/FileRoute.h"
#include "run/fetch/RouteContext.h"
#include "net/DownloadQueue.h"

#include <QHash>

class WholeFileRoute : public FileRoute {
public:
    explicit WholeFileRoute(RouteContext context) : c_(context) {}

    bool takes(const PlannedEntry&) const override { return true; }
    void estimate(qsizetype i, const PlannedEntry& planned, Cost cost) override;
    void prepare(qsizetype i, const PlannedEntry& planned) override;
    void obtain(qsizetype i, const PlannedEntry& planned, Done done) override;

    // The name of an entry's download in the download folder (or in folder).
    QString downloadName(const UpdateEntry& entry) const { return downloadName(entry, c_.folders.download); }
    static QString downloadName(const UpdateEntry& entry, const QString& folder);

private:
    struct Pending {
        quint64 id = 0;
        std::optional<DownloadQueue::Outcome> outcome;
        Done done;
        qint64 size = 0;
        bool reused = false;  // a complete copy an earlier run left: nothing to download
    };
    static bool hasCompleteCopy(const PlannedEntry& planned, const QString& folder);
    void download(qsizetype i, const PlannedEntry& planned);
    void reuse(qsizetype i, const PlannedEntry& planned);
    void arrived(qsizetype i, const DownloadQueue::Outcome& outcome);
    void deliver(qsizetype i);

    RouteContext c_;
    QHash<qsizetype, Pending> pending_;
    BackgroundTasks tasks_;  // checking complete copies
};
