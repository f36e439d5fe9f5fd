#pragma once
// A listed file fetched whole from the site's sources, under a name of its own in the download
// folder. A download that is not the listed file (another size, another SHA-256 than update.sums
// names) counts as its source's failure: the source is dropped and another one asked. A complete
// download an earlier run left there is used without fetching it again (KeptDownload).

#include "run/fetch/FileRoute.h"
#include "run/fetch/KeptDownload.h"
#include "run/fetch/RouteContext.h"
#include "net/DownloadQueue.h"

#include <QHash>

class WholeFileRoute : public FileRoute {
public:
    explicit WholeFileRoute(RouteContext context) : c_(context) {}

    bool takes(const PlannedEntry&) const override { return true; }
    void prepare(qsizetype i, const PlannedEntry& planned) override;
    void obtain(qsizetype i, const PlannedEntry& planned, Done done) override;

    // The name of an entry's download in the download folder.
    QString downloadName(const UpdateEntry& entry) const;

private:
    struct Pending {
        quint64 id = 0;
        std::optional<DownloadQueue::Outcome> outcome;
        Done done;
        qint64 size = 0;
    };
    void fetch(qsizetype i, const PlannedEntry& planned);
    void deliver(qsizetype i);

    RouteContext c_;
    QHash<qsizetype, Pending> pending_;
    KeptDownload kept_;  // gone first: no hash arrives afterwards
};
