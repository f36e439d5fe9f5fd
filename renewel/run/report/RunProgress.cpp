#include "run/report/RunProgress.h"

#include <algorithm>

void RunProgress::planned(const QHash<qsizetype, qint64>& costs)
{
    costs_ = costs;
    total_ = 0;
    for (const qint64 cost : costs)
        total_ += cost;
    host_.runPlanned(costs_.size(), total_);
}

void RunProgress::entering(qsizetype i) { current_ = i; }

void RunProgress::entryDone()
{
    if (current_ < 0)
        return;
    finished_ += costs_.value(current_);
    current_ = -1;
    tell(finished_);
}

void RunProgress::fileStarted(const QByteArray& listed, qint64 size)
{
    host_.fileStarted(listed, size);
    atLeast(size);
}

void RunProgress::fileProgress(qint64 total, qint64 readed)
{
    host_.fileProgress(total, readed);
    if (current_ < 0)
        return;
    atLeast(total);
    tell(finished_ + std::clamp<qint64>(readed, 0, costs_.value(current_)));
}

// A file's downloads that come to more than planned: the run's total grows by the difference.
void RunProgress::atLeast(qint64 fileTotal)
{
    if (current_ < 0 || fileTotal <= costs_.value(current_))
        return;
    total_ += fileTotal - costs_.value(current_);
    costs_[current_] = fileTotal;
    host_.runPlanned(costs_.size(), total_);
}

void RunProgress::tell(qint64 done)
{
    told_ = std::max(told_, std::min(done, total_));
    host_.runProgress(told_, total_);
}
