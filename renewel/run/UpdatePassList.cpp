// The update run's list: update.txt, and with it update.sums and its signature. With the studio's
// key (UpdateKey) a list is believed only when the signed checksum list vouches for it, and only
// then is its format read; without a key, a checksum list the site has is still used to check
// the downloads (a missing or broken one is then ignored). The three are fetched together:
// update.txt through the window's download component, the others on the run's transfer engine.
// With a key, the lists may come from any mirror, since the signature vouches for them: a source
// whose lists can't be fetched or are refused is dropped and the next one asked. Without a key
// only the update site's lists are believed.
#include "run/UpdatePass.h"

#include "net/DownloadQueue.h"
#include "net/HTTPGet.h"
#include "run/UpdateHost.h"
#include "site/SiteFiles.h"
#include "trust/Manifest.h"
#include "trust/UpdateStamp.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>

namespace {
// Neither list may be longer than this, nor the signature.
constexpr qint64 MaxListBytes = 64 * 1024 * 1024;
constexpr qint64 MaxSignatureBytes = 64 * 1024;
// Their places in the download queue: before every entry of the list.
constexpr qsizetype SumsKey = -2;
constexpr qsizetype SignatureKey = -1;

QByteArray readAll(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}
}  // namespace

// The lists from the update site, or with a key from the first source whose lists are accepted.
void UpdatePass::takeList()
{
    const bool anySource = options_.Settings.Key.has_value();
    for (int source = 0;; ++source) {
        listSource_ = source;
        listFallback_ = anySource && source + 1 < sources_.count();
        try {
            acceptList(fetchList());
            return;
        } catch (const ListRefused& refused) {
            sources_.failed(source, refused.reason);
            awaitSmallLeft();
        }
    }
}

// A list that can't be had from this source: the next source is asked where there is one,
// otherwise the run fails.
void UpdatePass::refuseList(const QString& subject, const QString& reason)
{
    if (listFallback_)
        throw ListRefused{reason};
    fail(subject, reason);
}

// A refused source's small lists still on their way are awaited before the next source's start
// under the same keys and names.
void UpdatePass::awaitSmallLeft()
{
    for (const qsizetype key : {SumsKey, SignatureKey}) {
        if (!queue_->Has(key))
            continue;
        QString ignored;
        awaitSmall(key, &ignored);
    }
}

QByteArray UpdatePass::fetchList()
{
    const QString listFile = tempFile(SiteFile::List);
    const QString url = siteUrl(SiteFile::List);
    host_.ListStageReached(UpdateHost::ListStage::Fetching);
    startSmall(SumsKey, SiteFile::Sums, MaxListBytes);
    if (options_.Settings.Key)
        startSmall(SignatureKey, SiteFile::Signature, MaxSignatureBytes);
    const bool fetched = download(url, listFile, MaxListBytes);
    host_.ListStageReached(UpdateHost::ListStage::Checking);
    if (!fetched || !QFileInfo::exists(listFile)) {
        const QString why = fetched ? QStringLiteral("the list was not stored") : getFile_.LastError();
        if (listFallback_)
            refuseList(url, why);
        stopQueue();
        QDir().rmdir(downloadFolder_);  // only when empty
        fail(url, why);
    }
    return readAll(listFile);
}

void UpdatePass::acceptList(const QByteArray& listBytes)
{
    if (options_.Settings.Key)
        acceptSigned(listBytes);
    else
        acceptUnsigned(listBytes);
    host_.ListRead(list_.entries.size());
}

// Without a key the list's format decides first, as it always has: a bad size line is the
// general error report, an unsafe path a failure.
void UpdatePass::acceptUnsigned(const QByteArray& listBytes)
{
    readEntries(listBytes, false);
    QString why;
    if (const std::optional<QByteArray> sums = awaitSmall(SumsKey, &why)) {
        Result<Sums> parsed = Sums::parse(*sums);
        if (parsed)
            sums_ = std::move(parsed).value();
    }
}

// With a key, nothing of the list is read before its signature has been checked, and a list that
// fails any check is refused alike: one line, no box.
void UpdatePass::acceptSigned(const QByteArray& listBytes)
{
    const QString listUrl = siteUrl(SiteFile::List);
    QString why;
    const std::optional<QByteArray> sums = awaitSmall(SumsKey, &why);
    if (!sums)
        refuseList(listUrl, QStringLiteral("no checksum list (%1: %2)").arg(SiteFile::Sums, why));
    const std::optional<QByteArray> signature = awaitSmall(SignatureKey, &why);
    if (!signature)
        refuseList(listUrl, QStringLiteral("no signature (%1: %2)").arg(SiteFile::Signature, why));
    const Result<std::optional<qint64>> stamp = readUpdateStamp(programFolder_);
    if (!stamp)
        fail(listUrl, stamp.error());

    SignedListInput input;
    input.updateList = listBytes;
    input.sums = *sums;
    input.signature = *signature;
    input.keyLine = *options_.Settings.Key;
    input.storedTimestamp = stamp.value();
    input.now = QDateTime::currentSecsSinceEpoch();
    Result<SignedList> accepted = checkSignedList(input);
    if (!accepted)
        refuseList(listUrl, accepted.error());

    readEntries(listBytes, true);
    QList<QByteArray> paths;
    for (const UpdateEntry& entry : list_.entries)
        paths << entry.listed;
    if (const Status covered = checkListed(accepted->sums, paths); !covered)
        refuseList(listUrl, covered.error());
    const Status written = options_.CheckOnly ? Status() : writeUpdateStamp(programFolder_, accepted->timestamp);
    if (!written)  // a check writes nothing
        fail(QDir::toNativeSeparators(updateStampPath(programFolder_)), written.error());
    sums_ = std::move(accepted).value().sums;
}

// Every size line and every path is checked before anything is downloaded: a list that is wrong
// anywhere installs nothing.
void UpdatePass::readEntries(const QByteArray& listBytes, bool refuseMalformed)
{
    list_ = UpdateListEntries::parse(listBytes);
    const ListProblem& problem = list_.problem;
    if (problem.kind == ListProblem::None)
        return;
    if (refuseMalformed)
        fail(siteUrl(SiteFile::List), problem.kind == ListProblem::BadSize
                                          ? QStringLiteral("malformed list (%1)").arg(problem.reason)
                                          : QStringLiteral("%1 (%2)").arg(problem.reason, problem.subject));
    if (problem.kind == ListProblem::BadSize)
        report(problem.subject, problem.reason);
    fail(problem.subject, problem.reason);
}

// The small site files beside the list: started before it, read into memory once it is in;
// nothing (and why) when one could not be fetched. They are not tried again, as the list is not.
void UpdatePass::startSmall(qsizetype key, const QString& name, qint64 maxSize)
{
    DownloadQueue::Job job;
    job.url = siteUrl(name);
    job.file = tempFile(name);
    job.maxSize = maxSize;
    job.retry = false;
    job.resume = false;
    job.durable = false;
    queue_->Start(key, job);
}

std::optional<QByteArray> UpdatePass::awaitSmall(qsizetype key, QString* why)
{
    const DownloadQueue::Job job = queue_->Await(key, nullptr);
    checkCancelled();
    const QByteArray bytes = readAll(job.file);
    QFile::remove(job.file);
    if (!job.succeeded) {
        *why = job.error;
        return std::nullopt;
    }
    return bytes;
}
