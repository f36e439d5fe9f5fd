#pragma once
// Before the first download: every entry decided (its content differs, or only its executable
// bit), what each differing one will download worked out as its route would obtain it (chunk
// indexes fetched), one entry at a time, so that the run's total is known up front, and the room
// the update needs measured. Driven by completion callbacks: advance() takes every step it can
// and returns; each hash or estimate that arrives calls onAnswer, and the run looks again.
// It also chooses each entry's route, for the estimates and later for obtaining the file.

#include "run/fetch/ChunkRoute.h"
#include "run/fetch/PatchRoute.h"
#include "run/fetch/WholeFileRoute.h"
#include "run/plan/EntryCheck.h"
#include "run/report/RunReport.h"
#include "run/report/UpdateOutcome.h"
#include "net/DownloadQueue.h"

#include <QHash>
#include <QList>

#include <functional>
#include <utility>

class UpdatePlanning {
public:
    // The routes an entry can take; chunks and patches only where the site has update.sums.
    struct Routes {
        WholeFileRoute& whole;
        ChunkRoute* chunks;
        PatchRoute* patches;
    };

    UpdatePlanning(const QList<PlannedEntry>& planned, const QString& installBase, InstalledState& state, bool repair,
                   Routes routes, DownloadQueue& queue, std::function<void()> onAnswer);

    // Takes every step it can now; true once every entry is decided and each differing one
    // estimated (else a hash or an estimate is on its way, and onAnswer follows).
    bool advance();
    // The room of the entries found to differ, into plan; with refuse, false when it is short or
    // can't be measured (reported).
    bool measureRoom(bool refuse, UpdatePlan& plan, RunReport& report);

    // The cheapest route the entry can use.
    FileRoute& routeFor(const PlannedEntry& planned) const;
    // The next route once one has declined the entry.
    FileRoute& routeAfter(const FileRoute& declined, const PlannedEntry& planned) const;

    // The entries to obtain, in list order.
    const QList<qsizetype>& differing() const { return differing_; }
    // What each of them will download.
    const QHash<qsizetype, qint64>& costs() const { return costs_; }
    // Current entries whose executable bit is to change.
    const QList<std::pair<qsizetype, bool>>& modes() const { return modes_; }

private:
    bool decideAll();
    void prepareIndexes();

    const QList<PlannedEntry>& planned_;
    const QString installBase_;
    const Routes routes_;
    DownloadQueue& queue_;
    std::function<void()> onAnswer_;
    EntryCheck check_;
    qsizetype scan_ = 0;  // the next entry to decide on
    QList<qsizetype> differing_;
    QHash<qsizetype, qint64> costs_;
    QList<std::pair<qsizetype, bool>> modes_;
    qsizetype estimated_ = 0;           // of differing_
    bool estimating_ = false;
    FileRoute* estimator_ = nullptr;    // estimating the current entry after the first route declined
    qsizetype indexAhead_ = 0;          // of differing_: chunk indexes asked for below this
};
