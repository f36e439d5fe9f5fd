#include "patch/SuffixDiff.h"

#include "patch/ControlTuple.h"
#include "patch/SuffixMatcher.h"
#include "patch/WordDiff.h"

namespace {

// A new exact match replaces the current alignment when it beats it by more than this many bytes
// (on rebuilt programs 5 to 8 do best; lower lets alignments flap, higher keeps stale ones).
constexpr qint64 MinGain = 6;

class DiffBuilder {
public:
    DiffBuilder(QByteArrayView old, QByteArrayView updated)
        : old_(reinterpret_cast<const uint8_t*>(old.data())), oldSize_(old.size()),
          new_(reinterpret_cast<const uint8_t*>(updated.data())), newSize_(updated.size()), matcher_(old)
    {
    }

    DiffStreams run();

private:
    bool agrees(qint64 newPos, qint64 offset) const
    {
        const qint64 oldPos = newPos + offset;
        return oldPos >= 0 && oldPos < oldSize_ && old_[oldPos] == new_[newPos];
    }
    qint64 forwardLength(qint64 scan) const;
    qint64 backwardLength(qint64 scan, qint64 pos) const;
    void endAlignment(qint64 scan, qint64 pos, qint64 forward, qint64 backward);

    const uint8_t* old_;
    qint64 oldSize_;
    const uint8_t* new_;
    qint64 newSize_;
    SuffixMatcher matcher_;
    DiffStreams out_;
    // Where the current alignment starts in new and old.
    qint64 lastScan_ = 0;
    qint64 lastPos_ = 0;
};

// How far the current alignment goes on from lastScan_ (at most to scan): the length where
// twice the agreeing bytes minus the length is greatest.
qint64 DiffBuilder::forwardLength(qint64 scan) const
{
    qint64 agree = 0, bestScore = 0, best = 0;
    for (qint64 i = 0; lastScan_ + i < scan && lastPos_ + i < oldSize_;) {
        if (old_[lastPos_ + i] == new_[lastScan_ + i])
            ++agree;
        ++i;
        if (agree * 2 - i > bestScore) {
            bestScore = agree * 2 - i;
            best = i;
        }
    }
    return best;
}

// How far the new alignment (new scan against old pos) reaches back towards lastScan_.
qint64 DiffBuilder::backwardLength(qint64 scan, qint64 pos) const
{
    qint64 agree = 0, bestScore = 0, best = 0;
    for (qint64 i = 1; scan - i >= lastScan_ && pos - i >= 0; ++i) {
        if (old_[pos - i] == new_[scan - i])
            ++agree;
        if (agree * 2 - i > bestScore) {
            bestScore = agree * 2 - i;
            best = i;
        }
    }
    return best;
}

// Ends the current alignment after forward bytes, takes the bytes up to the new alignment's
// start (scan - backward) as extra, and moves on to the new alignment.
void DiffBuilder::endAlignment(qint64 scan, qint64 pos, qint64 forward, qint64 backward)
{
    const qint64 overlap = (lastScan_ + forward) - (scan - backward);
    if (overlap > 0) {
        // Split the overlap where the two alignments together agree most.
        qint64 score = 0, bestScore = 0, split = 0;
        for (qint64 i = 0; i < overlap; ++i) {
            const qint64 at = scan - backward + i;
            score += (new_[at] == old_[lastPos_ + at - lastScan_]) - (new_[at] == old_[pos - backward + i]);
            if (score > bestScore) {
                bestScore = score;
                split = i + 1;
            }
        }
        forward += split - overlap;
        backward -= split;
    }
    const qint64 extraStart = lastScan_ + forward;
    const qint64 extraEnd = scan - backward;
    appendWordDiff(out_.diff, new_ + lastScan_, old_ + lastPos_, forward);
    out_.extra.append(reinterpret_cast<const char*>(new_ + extraStart), extraEnd - extraStart);
    appendControl(out_.control, {quint64(forward), quint64(extraEnd - extraStart), (pos - backward) - (lastPos_ + forward)});
    lastScan_ = scan - backward;
    lastPos_ = pos - backward;
}

DiffStreams DiffBuilder::run()
{
    out_.diff.reserve(newSize_);
    qint64 scan = 0, length = 0, pos = 0;
    while (scan < newSize_) {
        const qint64 offset = lastPos_ - lastScan_;
        qint64 oldScore = 0;   // bytes of [scan, scan + length) that agree under the current alignment
        qint64 scored = scan += length;
        for (; scan < newSize_; ++scan) {
            const SuffixMatcher::Match m = matcher_.longest(new_ + scan, newSize_ - scan);
            pos = m.oldPos;
            length = m.length;
            for (; scored < scan + length; ++scored)
                oldScore += agrees(scored, offset);
            if ((length == oldScore && length != 0) || length > oldScore + MinGain)
                break;
            oldScore -= agrees(scan, offset);
        }
        if (length == oldScore && scan < newSize_)
            continue;   // the match is the current alignment going on: skip over it
        const qint64 forward = forwardLength(scan);
        if (scan == newSize_)
            endAlignment(scan, lastPos_ + forward, forward, 0);   // the rest is extra; no move
        else
            endAlignment(scan, pos, forward, backwardLength(scan, pos));
    }
    return std::move(out_);
}

}  // namespace

DiffStreams suffixDiff(QByteArrayView old, QByteArrayView updated)
{
    return DiffBuilder(old, updated).run();
}
