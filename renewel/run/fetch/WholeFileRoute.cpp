#include "run/fetch/WholeFileRoute.h"

#include "net/DownloadFile.h"
#include "run/report/RunReport.h"
#include "run/report/UpdateHost.h"
#include "trust/Sha256.h"

#include <QFile>

namespace {
// Why a finished download is not the listed file (empty when it is).
QString problemWith(const DownloadQueue::Outcome& outcome, const PlannedEntry& planned)
{
    const qint64 got = DownloadFileSize(outcome.file);  // a link there is no download
    if (got != planned.entry.size)
        return QStringLiteral("received %1 bytes, the list says %2").arg(got).arg(planned.entry.size);
    if (planned.digest && outcome.digest != *planned.digest)
        return QStringLiteral("hash mismatch (not the file the checksum list names)");
    return {};
}
}  // namespace

void WholeFileRoute::prepare(qsizetype i, const PlannedEntry& planned)
{
    const QString file = downloadName(planned.entry);
    if (!KeptDownload::worthChecking(file, planned))
        return this->fetch(i, planned);
    pending_[i].size = planned.entry.size;
    kept_.check(file, *planned.digest, [this, i, planned, file](bool whole) {
        if (!whole)
            return fetch(i, planned);
        Pending& pending = pending_[i];
        pending.outcome = DownloadQueue::Outcome{true, {}, {}, file, *planned.digest};
        if (pending.done)
            deliver(i);
    });
}

void WholeFileRoute::fetch(qsizetype i, const PlannedEntry& planned)
{
    DownloadQueue::Fetch fetch;
    fetch.name = planned.entry.path.url({});
    fetch.file = downloadName(planned.entry);
    fetch.maxSize = std::max<qint64>(planned.entry.size, 1);  // a longer body is cut off there and fails
    fetch.hash = true;  // for the installed-state record, and the checksum where listed
    fetch.place = i;
    fetch.check = [planned](const DownloadQueue::Outcome& outcome) { return problemWith(outcome, planned); };
    Pending& pending = pending_[i];
    pending.size = planned.entry.size;
    pending.id = c_.queue.start(std::move(fetch), [this, i](const DownloadQueue::Outcome& outcome) {
        const auto found = pending_.find(i);
        if (found == pending_.end())
            return;
        found->outcome = outcome;
        if (found->done)
            deliver(i);
    });
    if (pending.done)  // reached while a kept download was being checked
        c_.queue.follow(pending.id, [this](qint64 total, qint64 readed) { c_.host.fileProgress(total, readed); });
}

void WholeFileRoute::obtain(qsizetype i, const PlannedEntry& planned, Done done)
{
    c_.host.fileStarted(planned.entry.listed, planned.entry.size);
    Pending& pending = pending_[i];
    pending.done = std::move(done);
    if (pending.outcome)
        return deliver(i);
    c_.queue.follow(pending.id, [this](qint64 total, qint64 readed) { c_.host.fileProgress(total, readed); });
}

void WholeFileRoute::deliver(qsizetype i)
{
    const Pending pending = pending_.take(i);
    const DownloadQueue::Outcome& outcome = *pending.outcome;
    if (!outcome.succeeded)
        return pending.done(Result<ObtainedFile>::failure(c_.report.fail(outcome.url, outcome.error).error()));
    c_.host.fileProgress(pending.size, pending.size);
    pending.done(ObtainedFile{outcome.file, outcome.digest});
}

// Unique for every distinct path (128 bits of its hash), and the same from one run to the next.
// A long name is shortened so that the whole stays within a file name's 255 bytes.
QString WholeFileRoute::downloadName(const UpdateEntry& entry) const
{
    QString name = entry.path.fileName();
    while (QFile::encodeName(name).size() > 200)
        name.chop(1);
    return c_.folders.temp(name + QLatin1Char('.') + QString::fromLatin1(Sha256::hash(entry.listed).toHex().left(32)) +
                           QStringLiteral(".part"));
}
