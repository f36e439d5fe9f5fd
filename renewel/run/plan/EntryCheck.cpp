#include "run/plan/EntryCheck.h"

#include "trust/Sha256.h"

#include "platform/RegularFile.h"

#include <algorithm>

namespace {
// How far past the entry being decided files are hashed.
constexpr qsizetype LookAhead = 512;

// The size of the installed regular file (0 when there is none). It is opened for reading only:
// a file renewel may not write (the running program, a read-only file of another user) is still
// compared, so that one with the listed content is not fetched again.
qint64 installedSize(const QString& path, FileIdentity* identity)
{
    const RegularFile file = RegularFile::open(path, RegularFile::Access::Read, Links::Follow);
    if (!file)
        return 0;
    *identity = file.identity().withoutChangeTime();
    return file.size();
}
}  // namespace

EntryCheck::EntryCheck(const QList<PlannedEntry>& entries, QString installBase, InstalledState& state, bool repair)
    : entries_(entries), installBase_(std::move(installBase)), state_(state), repair_(repair),
      slots_(size_t(entries.size()))
{
    pool_.setMaxThreadCount(std::max(2, QThread::idealThreadCount()));
}

EntryCheck::~EntryCheck() { pool_.waitForDone(); }

std::optional<bool> EntryCheck::differs(qsizetype i)
{
    if (slots_[size_t(i)].state == Slot::Unknown)
        decide(i);
    prefetch(i + 1);
    const Slot& slot = slots_[size_t(i)];
    return slot.state == Slot::Known ? std::optional<bool>(slot.differs) : std::nullopt;
}

void EntryCheck::prefetch(qsizetype i)
{
    const int most = pool_.maxThreadCount() * 2;
    ahead_ = std::max(ahead_, i);
    while (ahead_ < entries_.size() && ahead_ < i + LookAhead && inFlight_ < most) {
        if (slots_[size_t(ahead_)].state == Slot::Unknown)
            decide(ahead_);
        ++ahead_;
    }
}

void EntryCheck::decide(qsizetype i)
{
    const PlannedEntry& planned = entries_[i];
    Slot& slot = slots_[size_t(i)];
    const QString target = planned.entry.path.installPath(installBase_);
    slot.state = Slot::Known;
    slot.differs = true;
    if (installedSize(target, &slot.identity) != planned.entry.size)
        return;
    slot.differs = false;
    if (!planned.digest)
        return;  // the size rule
    if (!repair_) {
        if (const std::optional<QByteArray> recorded = state_.hash(planned.entry.listed, slot.identity)) {
            slot.differs = *recorded != *planned.digest;
            return;
        }
    }
    slot.state = Slot::Hashing;
    ++inFlight_;
    pool_.start([this, i, target] {
        const Result<QByteArray> local = sha256OfFile(target);
        const std::optional<QByteArray> digest = local ? std::optional<QByteArray>(local.value()) : std::nullopt;
        QMetaObject::invokeMethod(this, [this, i, digest] { hashed(i, digest); }, Qt::QueuedConnection);
    });
}

void EntryCheck::hashed(qsizetype i, const std::optional<QByteArray>& local)
{
    --inFlight_;
    Slot& slot = slots_[size_t(i)];
    const PlannedEntry& planned = entries_[i];
    slot.state = Slot::Known;
    slot.differs = !local || local != planned.digest;
    if (local)
        state_.record(planned.entry.listed, slot.identity, *local);
    if (onHashed)
        onHashed();
}
