#include "run/plan/UpdatePlanning.h"

#include "run/install/ExecutableBit.h"
#include "run/install/UpdateRoom.h"

#include <QDir>

UpdatePlanning::UpdatePlanning(const QList<PlannedEntry>& planned, const QString& installBase, InstalledState& state,
                               bool repair, Routes routes, DownloadQueue& queue, std::function<void()> onAnswer)
    : planned_(planned), installBase_(installBase), routes_(routes), queue_(queue), onAnswer_(std::move(onAnswer)),
      check_(planned, installBase, state, repair)
{
    check_.onHashed = onAnswer_;
}

bool UpdatePlanning::advance()
{
    if (!decideAll())
        return false;
    while (estimated_ < differing_.size()) {
        if (estimating_)
            return false;  // the estimate's end looks again
        prepareIndexes();
        const qsizetype i = differing_[estimated_];
        FileRoute& route = estimator_ ? *estimator_ : routeFor(planned_[i]);
        estimating_ = true;
        route.estimate(i, planned_[i], [this, i, &route](qint64 bytes) {
            estimating_ = false;
            if (bytes < 0) {
                estimator_ = &routeAfter(route, planned_[i]);  // declined: the next route's figure
            } else {
                estimator_ = nullptr;
                costs_.insert(i, bytes);
                ++estimated_;
            }
            onAnswer_();
        });
    }
    return true;
}

bool UpdatePlanning::decideAll()
{
    for (; scan_ < planned_.size(); ++scan_) {
        const std::optional<bool> differs = check_.differs(scan_);
        if (!differs)
            return false;  // being hashed: its arrival looks again
        if (*differs)
            differing_ << scan_;
        else if (const std::optional<bool> bit = ExecutableBitDue(planned_[scan_], installBase_))
            modes_ << std::pair{scan_, *bit};
    }
    return true;
}

// The chunk indexes of the entries after the one being estimated are fetched meanwhile, while the
// queue has room.
void UpdatePlanning::prepareIndexes()
{
    for (; indexAhead_ < differing_.size() && (indexAhead_ <= estimated_ || queue_.hasRoom()); ++indexAhead_) {
        const qsizetype i = differing_[indexAhead_];
        if (&routeFor(planned_[i]) == routes_.chunks)
            routes_.chunks->prepare(i, planned_[i]);
    }
}

bool UpdatePlanning::measureRoom(bool refuse, UpdatePlan& plan, RunReport& report)
{
    QList<UpdateRoom::Changed> changed;
    for (qsizetype i = 0; i < planned_.size(); ++i) {
        if (check_.differs(i).value_or(false))
            changed << UpdateRoom::Changed{&planned_[i], routes_.whole.downloadName(planned_[i].entry),
                                           routes_.chunks && routes_.chunks->takes(planned_[i])};
    }
    const Result<UpdateRoom> room = UpdateRoom::measure(changed, installBase_);
    if (!room) {
        if (!refuse)
            return true;
        report.fail(QDir::toNativeSeparators(installBase_), room.error());
        return false;
    }
    plan.needed = room->needed;
    plan.free = room->free;
    if (refuse && !room->enough()) {
        report.fail(QStringLiteral("not enough space for the update"), room->shortage());
        return false;
    }
    return true;
}

// A patch from the installed content (listed only where it costs less than the chunks), the
// chunks where the site keeps an index of the new content, else whole.
FileRoute& UpdatePlanning::routeFor(const PlannedEntry& planned) const
{
    if (routes_.patches && routes_.patches->takes(planned))
        return *routes_.patches;
    if (routes_.chunks && routes_.chunks->takes(planned))
        return *routes_.chunks;
    return routes_.whole;
}

FileRoute& UpdatePlanning::routeAfter(const FileRoute& declined, const PlannedEntry& planned) const
{
    if (&declined == routes_.patches && routes_.chunks && routes_.chunks->takes(planned))
        return *routes_.chunks;
    return routes_.whole;
}
