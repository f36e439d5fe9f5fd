#include "run/fetch/WholeFileRoute.h"

#include "net/DownloadFile.h"
#include "run/report/RunReport.h"
#include "run/report/UpdateHost.h"
#include "trust/Sha256.h"

#include <QDir>
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

void WholeFileRoute::estimate(qsizetype, const PlannedEntry& planned, Cost cost)
{
    cost(hasCompleteCopy(planned, c_.folders.previous) ? 0 : planned.entry.size);
}

bool WholeFileRoute::hasCompleteCopy(const PlannedEntry& planned, const QString& folder)
{
    return planned.digest && planned.entry.size > 0 &&
           DownloadFileSize(downloadName(planned.entry, folder)) == planned.entry.size;
}

void WholeFileRoute::prepare(qsizetype i, const PlannedEntry& planned)
{
    pending_[i].size = planned.entry.size;
    if (hasCompleteCopy(planned, c_.folders.download)) {
        pending_[i].reused = true;
        return reuse(i, planned);
    }
    download(i, planned);
}

void WholeFileRoute::download(qsizetype i, const PlannedEntry& planned)
{
    DownloadQueue::Fetch fetch;
    fetch.name = planned.entry.path.url({});
    fetch.file = downloadName(planned.entry);
    fetch.maxSize = std::max<qint64>(planned.entry.size, 1);  // a longer body is cut off there and fails
    fetch.hash = true;  // for the installed-state record, and the checksum where listed
    fetch.place = i;
    fetch.check = [planned](const DownloadQueue::Outcome& outcome) { return problemWith(outcome, planned); };
    pending_[i].id = c_.queue.start(std::move(fetch), [this, i](const DownloadQueue::Outcome& outcome) { arrived(i, outcome); });
    if (pending_[i].done)  // reached while its copy was being checked
        c_.queue.follow(pending_[i].id, [this](qint64 total, qint64 readed) { c_.host.fileProgress(total, readed); });
}

// Hashed on a thread of its own; a copy that is not the listed file goes and is fetched again.
void WholeFileRoute::reuse(qsizetype i, const PlannedEntry& planned)
{
    const QString file = downloadName(planned.entry);
    tasks_.run<Result<QByteArray>>([file] { return sha256OfFile(file); },
                                   [this, i, planned, file](Result<QByteArray> digest) {
                                       if (!pending_.contains(i))
                                           return;
                                       if (!digest || digest.value() != *planned.digest) {
                                           QFile::remove(file);
                                           pending_[i].reused = false;
                                           return download(i, planned);
                                       }
                                       DownloadQueue::Outcome outcome;
                                       outcome.succeeded = true;
                                       outcome.file = file;
                                       outcome.digest = digest.value();
                                       arrived(i, outcome);
                                   });
}

void WholeFileRoute::arrived(qsizetype i, const DownloadQueue::Outcome& outcome)
{
    const auto found = pending_.find(i);
    if (found == pending_.end())
        return;
    found->outcome = outcome;
    if (found->done)
        deliver(i);
}

void WholeFileRoute::obtain(qsizetype i, const PlannedEntry& planned, Done done)
{
    Pending& pending = pending_[i];
    c_.host.fileStarted(planned.entry.listed, pending.reused ? 0 : planned.entry.size);
    pending.done = std::move(done);
    if (pending.outcome)
        return deliver(i);
    if (pending.id != 0)  // else its copy is being checked
        c_.queue.follow(pending.id, [this](qint64 total, qint64 readed) { c_.host.fileProgress(total, readed); });
}

void WholeFileRoute::deliver(qsizetype i)
{
    const Pending pending = pending_.take(i);
    const DownloadQueue::Outcome& outcome = *pending.outcome;
    if (!outcome.succeeded)
        return pending.done(Result<ObtainedFile>::failure(c_.report.fail(outcome.url, outcome.error).error()));
    if (!pending.reused)
        c_.host.fileProgress(pending.size, pending.size);
    pending.done(ObtainedFile{outcome.file, outcome.digest});
}

// Unique for every distinct path (128 bits of its hash), and the same from one run to the next.
// A long name is shortened so that the whole stays within a file name's 255 bytes.
QString WholeFileRoute::downloadName(const UpdateEntry& entry, const QString& folder)
{
    QString name = entry.path.fileName();
    while (QFile::encodeName(name).size() > 200)
        name.chop(1);
    return folder + QDir::separator() + name + QLatin1Char('.') +
           QString::fromLatin1(Sha256::hash(entry.listed).toHex().left(32)) + QStringLiteral(".part");
}
