// The update run's list: update.txt, and with it update.sums and its signature. With the studio's
// key (UpdateKey) a list is believed only when the signed checksum list vouches for it, and only
// then is its format read; without a key, a checksum list the site has is still used to check
// the downloads (a missing or broken one is then ignored).
#include "run/UpdatePass.h"

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

QByteArray readAll(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}
}  // namespace

QByteArray UpdatePass::fetchList()
{
    const QString listFile = tempFile(SiteFile::List);
    const QString url = siteUrl(SiteFile::List);
    host_.ListStageReached(UpdateHost::ListStage::Fetching);
    const bool fetched = download(url, listFile, MaxListBytes);
    host_.ListStageReached(UpdateHost::ListStage::Checking);
    if (!fetched || !QFileInfo::exists(listFile)) {
        QDir().rmdir(downloadFolder_);  // only when empty
        fail(url, fetched ? QStringLiteral("the list was not stored") : getFile_.LastError());
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
    if (const std::optional<QByteArray> sums = fetchSmall(SiteFile::Sums, MaxListBytes, &why)) {
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
    const std::optional<QByteArray> sums = fetchSmall(SiteFile::Sums, MaxListBytes, &why);
    if (!sums)
        fail(listUrl, QStringLiteral("no checksum list (%1: %2)").arg(SiteFile::Sums, why));
    const std::optional<QByteArray> signature = fetchSmall(SiteFile::Signature, MaxSignatureBytes, &why);
    if (!signature)
        fail(listUrl, QStringLiteral("no signature (%1: %2)").arg(SiteFile::Signature, why));
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
        fail(listUrl, accepted.error());

    readEntries(listBytes, true);
    QList<QByteArray> paths;
    for (const TUpdateEntry& entry : list_.entries)
        paths << entry.listed;
    if (const Status covered = checkListed(accepted->sums, paths); !covered)
        fail(listUrl, covered.error());
    const Status written = options_.CheckOnly ? Status() : writeUpdateStamp(programFolder_, accepted->timestamp);
    if (!written)  // a check writes nothing
        fail(QDir::toNativeSeparators(updateStampPath(programFolder_)), written.error());
    sums_ = std::move(accepted).value().sums;
}

// Every size line and every path is checked before anything is downloaded: a list that is wrong
// anywhere installs nothing.
void UpdatePass::readEntries(const QByteArray& listBytes, bool refuseMalformed)
{
    list_ = TUpdateList::parse(listBytes);
    const TListProblem& problem = list_.problem;
    if (problem.kind == TListProblem::None)
        return;
    if (refuseMalformed)
        fail(siteUrl(SiteFile::List), problem.kind == TListProblem::BadSize
                                          ? QStringLiteral("malformed list (%1)").arg(problem.reason)
                                          : QStringLiteral("%1 (%2)").arg(problem.reason, problem.subject));
    if (problem.kind == TListProblem::BadSize)
        report(problem.subject, problem.reason);
    fail(problem.subject, problem.reason);
}

// One of the small site files beside the list, read into memory; nothing (and why) when it could
// not be fetched.
std::optional<QByteArray> UpdatePass::fetchSmall(const QString& name, qint64 maxSize, QString* why)
{
    const QString file = tempFile(name);
    const bool fetched = download(siteUrl(name), file, maxSize);
    const QByteArray bytes = readAll(file);
    QFile::remove(file);
    if (!fetched) {
        *why = getFile_.LastError();
        return std::nullopt;
    }
    return bytes;
}
