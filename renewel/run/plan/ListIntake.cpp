#include "run/plan/ListIntake.h"

#include "net/HTTPGet.h"
#include "net/SiteSources.h"
#include "run/report/RunReport.h"
#include "run/report/UpdateHost.h"
#include "site/SiteFiles.h"
#include "trust/Manifest.h"
#include "trust/UpdateStamp.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTimer>

namespace {
// Neither list may be longer than this, nor the signature.
constexpr qint64 MaxListBytes = 64 * 1024 * 1024;
constexpr qint64 MaxSignatureBytes = 64 * 1024;
constexpr qint64 MaxHeadBytes = 4 * 1024;
constexpr long NotModified = 304;

QByteArray readAll(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}
}  // namespace

ListIntake::ListIntake(DownloadQueue& queue, THTTPGet& getFile, UpdateHost& host, RunReport& report,
                       const RunFolders& folders, const UpdateOptions& options)
    : queue_(queue), getFile_(getFile), host_(host), report_(report), folders_(folders), options_(options)
{
}

void ListIntake::start(Done done)
{
    done_ = std::move(done);
    // A repair reads every file again, whatever the head says.
    if (options_.Settings.Key && !options_.Repair)
        return fetchHead();
    fetchLists(0);
}

// The lists from a source; the installed release's head is forgotten first, since the run may
// now install part of another.
void ListIntake::fetchLists(int source)
{
    if (!options_.CheckOnly)
        KeptHead::forget(folders_.program);
    fetchFrom(source);
}

// The kept head, when it still holds: signed with the key, not replayed, not expired. An expired
// one is not asked about, so the site's answer is a head checked in full.
std::optional<KeptHead> ListIntake::keptHead(std::optional<qint64> stamp) const
{
    if (!recordHeld)
        return std::nullopt;
    std::optional<KeptHead> kept = KeptHead::read(folders_.program);
    if (kept && !checkSignedHead(kept->file, *options_.Settings.Key, stamp, QDateTime::currentSecsSinceEpoch()))
        kept.reset();
    return kept;
}

// update.head from the update site first, one small request, on the queue.
void ListIntake::fetchHead()
{
    const Result<std::optional<qint64>> stamp = readUpdateStamp(folders_.program);
    if (!stamp)
        return fetchLists(0);  // the lists' check reports it
    stamp_ = stamp.value();
    kept_ = keptHead(stamp_);
    headFirst_ = true;
    askHead(0);
}

// The head from the source the lists are to come from next: a mirror's lists are checked
// against that mirror's head, as the site's are against the site's.
void ListIntake::askHead(int source)
{
    source_ = source;
    head_.reset();
    arrived_.reset();
    host_.listStageReached(UpdateHost::ListStage::Fetching);
    DownloadQueue::Fetch fetch = smallFetch(SiteFile::Head, MaxHeadBytes);
    // Asked for plainly, like content-addressed objects: the site decides how long a cache may
    // keep its head (a few seconds), so that a CDN answers most launchers' checks itself.
    fetch.cacheable = true;
    if (kept_)
        fetch.validator = kept_->validator;
    queue_.start(std::move(fetch), [this](const DownloadQueue::Outcome& outcome) { headArrived(outcome); });
}

// Unchanged: done. No head (an older site, or none to be had): the lists as always, from the same
// source. A head that is not believed is refused, as a list would be: the next source is asked
// where the lists may come from another.
void ListIntake::headArrived(const DownloadQueue::Outcome& outcome)
{
    const QByteArray bytes = readAll(outcome.file);
    QFile::remove(outcome.file);
    if (!done_)
        return;
    if (outcome.status == NotModified && kept_)
        return upToDate(std::nullopt);
    // The lists are asked for from the event loop, not from inside a download's report.
    const auto lists = [this] { QTimer::singleShot(0, this, [this] { if (done_) fetchLists(source_); }); };
    if (!outcome.succeeded)
        return lists();
    Result<SignedHead> head =
        checkSignedHead(bytes, *options_.Settings.Key, stamp_, QDateTime::currentSecsSinceEpoch());
    if (!head && source_ + 1 < queue_.sources().count()) {
        queue_.sources().failed(source_, head.error());
        QTimer::singleShot(0, this, [this] { if (done_) askHead(source_ + 1); });
        return;
    }
    if (!head)
        return end(report_.fail(outcome.url, head.error()));
    arrived_ = KeptHead{outcome.validator, bytes};
    if (kept_ && UpdateHead::parse(kept_->file)->sameLists(head->head))
        return upToDate(head->timestamp);
    head_ = std::move(head).value();
    lists();
}

// The installed release is the site's: its newer timestamp and validator are kept (a check
// writes nothing).
void ListIntake::upToDate(std::optional<qint64> timestamp)
{
    current = true;
    if (!options_.CheckOnly && timestamp) {
        if (const Status written = writeUpdateStamp(folders_.program, *timestamp); !written)
            return end(report_.fail(QDir::toNativeSeparators(updateStampPath(folders_.program)), written.error()));
        keepHead();
    }
    end({});
}

Status ListIntake::keepHead()
{
    if (options_.CheckOnly)
        return {};
    if (!arrived_) {
        KeptHead::forget(folders_.program);
        return {};
    }
    return arrived_->write(folders_.program);
}

QString ListIntake::siteUrl(const QString& name) const { return queue_.sources().url(source_, name); }

// update.txt by the download component, which waits for it; the small lists meanwhile on the
// queue, reporting their ends.
void ListIntake::fetchFrom(int source)
{
    source_ = source;
    fallback_ = options_.Settings.Key.has_value() && source + 1 < queue_.sources().count();
    refused_.reset();
    listBytes_.reset();
    listEnded_ = false;
    host_.listStageReached(UpdateHost::ListStage::Fetching);
    startSmall(sums_, SiteFile::Sums, MaxListBytes);
    // A believed head's signature covers the lists: theirs is fetched only without one.
    signature_ = {};
    if (options_.Settings.Key && !head_)
        startSmall(signature_, SiteFile::Signature, MaxSignatureBytes);
    const QString listFile = folders_.temp(SiteFile::List);
    getFile_.URL = siteUrl(SiteFile::List);
    getFile_.FileName = listFile;
    getFile_.MaxSize = MaxListBytes;
    getFile_.Compressed = true;
    getFile_.Fetch();
    getFile_.Compressed = false;
    host_.listStageReached(UpdateHost::ListStage::Checking);
    listEnded_ = true;
    if (!getFile_.Succeeded())
        listWhy_ = getFile_.LastError();
    else if (!QFileInfo::exists(listFile))
        listWhy_ = QStringLiteral("the list was not stored");
    else
        listBytes_ = readAll(listFile);
    smallArrived();
}

// A small file of the site (the head, update.sums, its signature) from the source asked now, into
// the download folder: one try, read at once, so neither resumed nor made durable.
DownloadQueue::Fetch ListIntake::smallFetch(const QString& name, qint64 maxSize) const
{
    DownloadQueue::Fetch fetch;
    fetch.name = name;
    fetch.file = folders_.temp(name);
    fetch.maxSize = maxSize;
    fetch.retry = false;
    fetch.resume = false;
    fetch.durable = false;
    fetch.order = DownloadQueue::Order::Lists;
    fetch.source = source_;
    return fetch;
}

// Started before update.txt, read into memory once it is in; nothing (and why) when one could not
// be fetched. They are not tried again, as the list is not.
void ListIntake::startSmall(Small& small, const QString& name, qint64 maxSize)
{
    DownloadQueue::Fetch fetch = smallFetch(name, maxSize);
    fetch.compressed = true;
    small = {};
    small.pending = true;
    queue_.start(std::move(fetch), [this, &small](const DownloadQueue::Outcome& outcome) {
        const QByteArray bytes = readAll(outcome.file);
        QFile::remove(outcome.file);
        small.pending = false;
        if (outcome.succeeded)
            small.bytes = bytes;
        else
            small.why = outcome.error;
        smallArrived();
    });
}

// Once update.txt and the small lists are all in, the lists are judged; a list that could not be
// fetched from the only source it may come from fails at once.
void ListIntake::smallArrived()
{
    if (!done_ || !listEnded_)
        return;
    if (!listBytes_ && !fallback_)
        return end(report_.fail(siteUrl(SiteFile::List), listWhy_));
    if (sums_.pending || signature_.pending)
        return;
    const Status accepted = accept();
    if (accepted || !refused_)
        return end(accepted);
    // The next source is asked from the event loop, not from inside a download's report.
    queue_.sources().failed(source_, *refused_);
    QTimer::singleShot(0, this, [this] {
        if (done_ && headFirst_)
            askHead(source_ + 1);
        else if (done_)
            fetchFrom(source_ + 1);
    });
}

void ListIntake::end(Status status)
{
    const Done done = std::move(done_);
    done_ = nullptr;
    if (done)
        done(status);
}

Status ListIntake::accept()
{
    if (!listBytes_) {
        const QString url = siteUrl(SiteFile::List);
        return refuse(url, listWhy_);
    }
    const Status accepted = options_.Settings.Key ? acceptSigned() : acceptUnsigned();
    if (accepted)
        host_.listRead(list.entries.size());
    return accepted;
}

// A list that can't be had from this source: the next source is asked where there is one,
// otherwise the run fails.
Status ListIntake::refuse(const QString& subject, const QString& reason)
{
    if (!fallback_)
        return report_.fail(subject, reason);
    refused_ = reason;
    return Status::failure(reason);
}

// Without a key the list's format decides first, as it always has: a bad size line is the
// general error report, an unsafe path a failure.
Status ListIntake::acceptUnsigned()
{
    if (const Status read = readEntries(false); !read)
        return read;
    if (sums_.bytes) {
        Result<Sums> parsed = Sums::parse(*sums_.bytes);
        if (parsed)
            sums = std::move(parsed).value();
    }
    return {};
}

// With a key, nothing of the list is read before its signature has been checked, and a list that
// fails any check is refused alike: one line, no box.
Status ListIntake::acceptSigned()
{
    const QString listUrl = siteUrl(SiteFile::List);
    if (!sums_.bytes)
        return refuse(listUrl, QStringLiteral("no checksum list (%1: %2)").arg(SiteFile::Sums, sums_.why));
    if (!head_ && !signature_.bytes)
        return refuse(listUrl, QStringLiteral("no signature (%1: %2)").arg(SiteFile::Signature, signature_.why));
    const Result<std::optional<qint64>> stamp = readUpdateStamp(folders_.program);
    if (!stamp)
        return report_.fail(listUrl, stamp.error());

    Result<SignedList> accepted = Result<SignedList>::failure({});
    if (head_) {
        accepted = checkHeadedList(*head_, *listBytes_, *sums_.bytes);
    } else {
        SignedListInput input;
        input.updateList = *listBytes_;
        input.sums = *sums_.bytes;
        input.signature = *signature_.bytes;
        input.keyLine = *options_.Settings.Key;
        input.storedTimestamp = stamp.value();
        input.now = QDateTime::currentSecsSinceEpoch();
        accepted = checkSignedList(input);
    }
    if (!accepted)
        return refuse(listUrl, accepted.error());

    if (const Status read = readEntries(true); !read)
        return read;
    QList<QByteArray> paths;
    for (const UpdateEntry& entry : list.entries)
        paths << entry.listed;
    if (const Status covered = checkListed(accepted->sums, paths); !covered)
        return refuse(listUrl, covered.error());
    acceptedStamp = accepted->timestamp;
    sums = std::move(accepted).value().sums;
    return {};
}

// Every size line and every path is checked before anything is downloaded: a list that is wrong
// anywhere installs nothing.
Status ListIntake::readEntries(bool refuseMalformed)
{
    list = UpdateListEntries::parse(*listBytes_);
    const ListProblem& problem = list.problem;
    if (problem.kind == ListProblem::None)
        return {};
    if (refuseMalformed)
        return report_.fail(siteUrl(SiteFile::List), problem.kind == ListProblem::BadSize
                                                         ? QStringLiteral("malformed list (%1)").arg(problem.reason)
                                                         : QStringLiteral("%1 (%2)").arg(problem.reason, problem.subject));
    if (problem.kind == ListProblem::BadSize)
        return report_.generalReport(problem.subject, problem.reason);
    return report_.fail(problem.subject, problem.reason);
}
