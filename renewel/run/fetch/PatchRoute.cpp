#include "run/fetch/PatchRoute.h"

#include "net/DownloadFile.h"
#include "net/SiteSources.h"
#include "patch/ApplyPatch.h"
#include "patch/PatchName.h"
#include "run/install/InstalledState.h"
#include "run/install/UpdateFiles.h"
#include "run/report/UpdateHost.h"
#include "site/Sums.h"
#include "trust/Sha256.h"

#include "platform/FileIO.h"
#include "platform/RegularFile.h"

#include <QFile>

namespace {
// The file made from the patch, synced and hashed; the reason when it can't be.
Result<QByteArray> applied(const QString& old, const QString& patch, const QString& output)
{
    const Status made = applyPatchFile(old, patch, output);
    QFile::remove(patch);
    if (!made)
        return Result<QByteArray>::failure(made.error());
    const RegularFile file = RegularFile::open(output);
    if (!file)
        return Result<QByteArray>::failure(file.reason());
    if (const Status synced = platform::syncFileData(file.fd()); !synced)
        return Result<QByteArray>::failure(synced.error());
    return sha256OfFile(output);
}
}  // namespace

// The installed content's SHA-256 comes from the record only while the file is as recorded: a
// copy changed since then is never patched.
std::optional<PatchRoute::Patch> PatchRoute::patchFor(const PlannedEntry& planned) const
{
    if (!planned.digest)
        return std::nullopt;
    const std::optional<FileIdentity> identity = IdentityOf(planned.entry.path.installPath(installBase_));
    const std::optional<QByteArray> installed = identity ? state_.hash(planned.entry.listed, *identity) : std::nullopt;
    if (!installed || *installed == *planned.digest)
        return std::nullopt;
    const QString name = patchSiteName(*installed, *planned.digest);
    const std::optional<QByteArray> digest = sums_.digest(name.toLatin1());
    if (!digest)
        return std::nullopt;
    return Patch{name, *digest};
}

// From one source, as a chunk index is: a patch that can't be had costs the entry its route,
// never the source.
void PatchRoute::prepare(qsizetype i, const PlannedEntry& planned)
{
    if (pending_.contains(i))
        return;  // estimated before
    const std::optional<Patch> patch = patchFor(planned);
    if (!patch)
        return;
    DownloadQueue::Fetch fetch;
    fetch.name = patch->name;
    fetch.file = tempName(planned, QStringLiteral(".patch"));
    fetch.maxSize = std::max<qint64>(planned.entry.size, 1);
    fetch.hash = true;
    fetch.resume = false;
    fetch.durable = false;  // read once, then removed
    fetch.cacheable = true;  // named by content: never changes under its name
    fetch.place = i;
    fetch.source = c_.queue.sources().pick();
    Pending& pending = pending_[i];
    pending.digest = patch->digest;
    pending.id = c_.queue.start(std::move(fetch), [this, i, planned](const DownloadQueue::Outcome& outcome) {
        const auto found = pending_.find(i);
        if (found == pending_.end())
            return;
        found->outcome = outcome;
        if (found->cost)
            std::exchange(found->cost, nullptr)(usable(*found) ? DownloadFileSize(outcome.file) : -1);
        else if (found->done)
            arrived(i, planned);
    });
}

void PatchRoute::estimate(qsizetype i, const PlannedEntry& planned, Cost cost)
{
    prepare(i, planned);
    const auto found = pending_.find(i);
    if (found == pending_.end())
        return cost(-1);
    if (found->outcome)
        return cost(usable(*found) ? DownloadFileSize(found->outcome->file) : -1);
    found->cost = std::move(cost);
}

bool PatchRoute::usable(const Pending& pending)
{
    return pending.outcome && pending.outcome->succeeded && pending.outcome->digest == pending.digest;
}

void PatchRoute::obtain(qsizetype i, const PlannedEntry& planned, Done done)
{
    const auto found = pending_.find(i);
    if (found == pending_.end())
        return done(ObtainedFile{});  // not prepared: the installed copy had no patch then
    found->done = std::move(done);
    if (found->outcome && usable(*found))
        c_.host.fileStarted(planned.entry.listed, DownloadFileSize(found->outcome->file));
    else if (!found->outcome)
        c_.host.fileStarted(planned.entry.listed, planned.entry.size);
    if (found->outcome)
        return arrived(i, planned);
    c_.queue.follow(found->id, [this](qint64 total, qint64 readed) { c_.host.fileProgress(total, readed); });
}

void PatchRoute::arrived(qsizetype i, const PlannedEntry& planned)
{
    const Pending pending = pending_.take(i);
    const DownloadQueue::Outcome& outcome = *pending.outcome;
    if (!usable(pending)) {
        QFile::remove(outcome.file);
        return pending.done(ObtainedFile{});
    }
    apply(planned, outcome.file, pending.done);
}

void PatchRoute::apply(const PlannedEntry& planned, const QString& patchFile, Done done)
{
    const QString old = planned.entry.path.installPath(installBase_);
    const QString output = tempName(planned, QStringLiteral(".patched"));
    const QByteArray expected = *planned.digest;
    const qint64 size = DownloadFileSize(patchFile);  // what was downloaded for the entry
    tasks_.run<Result<QByteArray>>([old, patchFile, output] { return applied(old, patchFile, output); },
                                   [this, output, expected, size, done](Result<QByteArray> digest) {
                                       if (!digest || *digest != expected) {
                                           QFile::remove(output);
                                           return done(ObtainedFile{});
                                       }
                                       c_.host.fileProgress(size, size);
                                       done(ObtainedFile{output, *digest});
                                   });
}

// One per entry, the same from one run to the next (as the whole file's download name).
QString PatchRoute::tempName(const PlannedEntry& planned, const QString& suffix) const
{
    return c_.folders.temp(QString::fromLatin1(Sha256::hash(planned.entry.listed).toHex().left(32)) + suffix);
}
