#pragma once
// A listed file made from its installed copy and a binary patch in the site's chunk store: taken
// where update.sums lists a patch from the installed content (the installed-state record's
// SHA-256, while the file still has the recorded identity) to the entry's new content. Publish
// lists a patch only when it costs fewer bytes than the file's chunks or the whole file, so it is
// tried first. The patch is fetched (at most the file's listed size) from one source, checked
// against its line in update.sums and applied on a thread of its own into the download folder;
// the result counts only with the entry's SHA-256. Any failure declines the entry (an empty file)
// without dropping the source, and the run obtains it another way.

#include "run/fetch/BackgroundTasks.h"
#include "run/fetch/FileRoute.h"
#include "run/fetch/RouteContext.h"
#include "net/DownloadQueue.h"

#include <QHash>

#include <optional>

class InstalledState;
class Sums;

class PatchRoute : public FileRoute {
public:
    PatchRoute(RouteContext context, const InstalledState& state, const Sums& sums, const QString& installBase)
        : c_(context), state_(state), sums_(sums), installBase_(installBase) {}

    bool takes(const PlannedEntry& planned) const override { return patchFor(planned).has_value(); }
    void prepare(qsizetype i, const PlannedEntry& planned) override;
    // The patch is fetched to know its size (it is what obtaining downloads); -1 when it can't
    // be had.
    void estimate(qsizetype i, const PlannedEntry& planned, Cost cost) override;
    void obtain(qsizetype i, const PlannedEntry& planned, Done done) override;

private:
    struct Patch {
        QString name;        // on the site
        QByteArray digest;   // of the patch, as update.sums lists it
    };
    struct Pending {
        std::optional<DownloadQueue::Outcome> outcome;
        Done done;
        Cost cost;
        QByteArray digest;
        quint64 id = 0;
    };

    std::optional<Patch> patchFor(const PlannedEntry& planned) const;
    void arrived(qsizetype i, const PlannedEntry& planned);
    static bool usable(const Pending& pending);
    void apply(const PlannedEntry& planned, const QString& patchFile, Done done);
    QString tempName(const PlannedEntry& planned, const QString& suffix) const;

    RouteContext c_;
    const InstalledState& state_;
    const Sums& sums_;
    const QString installBase_;
    BackgroundTasks tasks_;
    QHash<qsizetype, Pending> pending_;
};
