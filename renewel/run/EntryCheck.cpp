#include "run/EntryCheck.h"

#include "site/Sums.h"
#include "trust/Sha256.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QFile>

#include <algorithm>

namespace {
// How far past the entry being decided files are hashed.
constexpr qsizetype LookAhead = 512;

}  // namespace

EntryCheck::EntryCheck(const QList<UpdateEntry>& entries, QString installBase, const Sums* sums,
                         InstalledState& state, bool repair)
    : entries_(entries), installBase_(std::move(installBase)), sums_(sums), state_(state), repair_(repair),
      slots_(size_t(entries.size()))
{
    pool_.setMaxThreadCount(std::max(2, QThread::idealThreadCount()));
}

EntryCheck::~EntryCheck() { pool_.waitForDone(); }

std::optional<bool> EntryCheck::Differs(qsizetype i)
{
    if (slots_[size_t(i)].state == Slot::Unknown)
        decide(i);
    Prefetch(i + 1);
    const Slot& slot = slots_[size_t(i)];
    return slot.state == Slot::Known ? std::optional<bool>(slot.differs) : std::nullopt;
}

bool EntryCheck::AwaitDiffers(qsizetype i)
{
    std::optional<bool> known = Differs(i);
    while (!known) {
        QEventLoop loop;
        wait_ = &loop;
        awaited_ = i;
        loop.exec();
        wait_ = nullptr;
        awaited_ = -1;
        known = Differs(i);
        // After an application quit Qt's loops return at once: wait for the next event instead.
        if (!known)
            QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
    }
    return *known;
}

void EntryCheck::Prefetch(qsizetype i)
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
    const UpdateEntry& entry = entries_[i];
    Slot& slot = slots_[size_t(i)];
    const QString target = entry.path.installPath(installBase_);
    slot.state = Slot::Known;
    slot.differs = true;
    if (LocalFileSize(target, &slot.identity) != entry.size)
        return;
    const std::optional<QByteArray> digest = sums_ ? sums_->digest(entry.listed) : std::nullopt;
    slot.differs = false;
    if (!digest)
        return;  // the size rule
    if (!repair_) {
        if (const std::optional<QByteArray> recorded = state_.Hash(entry.listed, slot.identity)) {
            slot.differs = *recorded != *digest;
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
    const UpdateEntry& entry = entries_[i];
    slot.state = Slot::Known;
    slot.differs = !local || local != sums_->digest(entry.listed);
    if (local)
        state_.Record(entry.listed, slot.identity, *local);
    if (wait_ && awaited_ == i)
        wait_->quit();
    if (OnHashed)
        OnHashed();
}
