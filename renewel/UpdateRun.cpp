#include "UpdateRun.h"

#include "Exception.h"
#include "FailureLine.h"
#include "HTTPGet.h"
#include "InstallFile.h"
#include "ListedPath.h"
#include "Text.h"
#include "UpdateFiles.h"
#include "UpdateHost.h"
#include "UpdateList.h"
#include "DownloadQueue.h"
#include "Manifest.h"
#include "RateLimiter.h"
#include "Sha256.h"
#include "UpdateStamp.h"
#include "langSys.h"

#include <QDateTime>
#include <optional>

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QLockFile>
#include <QSet>

#include <memory>

namespace {
// Neither list may be longer than this, nor the signature.
constexpr qint64 kMaxListBytes = 64 * 1024 * 1024;
constexpr qint64 kMaxSignatureBytes = 64 * 1024;

QByteArray readAll(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

// Clears the in-progress flag on every way out of a run, exceptions included.
class RunningFlag {
public:
    explicit RunningFlag(bool& flag) : flag_(flag) { flag_ = true; }
    ~RunningFlag() { flag_ = false; }
    RunningFlag(const RunningFlag&) = delete;
    RunningFlag& operator=(const RunningFlag&) = delete;

private:
    bool& flag_;
};

// Unwinds a pass once its outcome is settled.
struct Stop {};
}  // namespace

int ExitStatus(const TUpdateOutcome& outcome)
{
    switch (outcome.kind) {
    case TUpdateOutcome::Failed: return 1;
    case TUpdateOutcome::Cancelled: return 2;
    default: return 0;
    }
}

// One run's state and steps.
class TUpdateRun::Pass {
public:
    explicit Pass(TUpdateRun& run)
        : run_(run), host_(run.host_), getFile_(run.getFile_), programFolder_(run.options_.ProgramFolder),
          downloadFolder_(DownloadFolder(programFolder_)), installBase_(InstallBase(programFolder_)),
          site_(run.text("UpdateSite")), lock_(QDir(programFolder_).filePath(QStringLiteral("renewel.lock")))
    {
    }

    void Run()
    {
        claimInstallation();
        makeDownloadFolder();
        fetchList();
        validateList();
        fetchManifest();
        startQueue();
        for (qsizetype i = 0; i + 1 < run_.UpdateList.size(); i += 2)
            handleEntry(i);
        finish();
    }

private:
    // Only one run works on an installation at a time. A lock left by a crashed process is taken
    // over: on this machine as soon as its process is gone, otherwise (another machine on a
    // shared drive, a renamed one) once it is a day old.
    void claimInstallation()
    {
        lock_.setStaleLockTime(24 * 60 * 60 * 1000);
        if (lock_.tryLock(0))
            return;
        fail(QDir::toNativeSeparators(installBase_),
             lock_.error() == QLockFile::LockFailedError ? QStringLiteral("another update is running on this installation")
                                                         : QStringLiteral("cannot lock the installation"));
    }

    void makeDownloadFolder()
    {
        // The download folder is written and emptied: never through a link that leaves the
        // installation.
        if (QFileInfo(downloadFolder_).isSymLink() && !InsideInstallation(downloadFolder_, installBase_))
            fail(QDir::toNativeSeparators(downloadFolder_), QStringLiteral("it leads outside the installation"));
        if (QFileInfo(downloadFolder_).isDir() || QDir().mkdir(downloadFolder_) || run_.options_.Quiet)
            return;
        // The general error report with the "Error" text; the window stays open.
        report(QDir::toNativeSeparators(downloadFolder_), displayText(run_.text("Error")));
    }

    void fetchList()
    {
        const QString listFile = tempFile("update.txt");
        const QString url = QString::fromLatin1(site_ + "update.txt");
        host_.SetStatus(run_.text("STatus2") + " update.txt ...");
        host_.ProcessMessages();
        const bool fetched = download(url, listFile, kMaxListBytes);
        host_.SetStatus(run_.text("STatus3"));
        if (!fetched || !QFileInfo::exists(listFile)) {
            QDir().rmdir(downloadFolder_);  // only when empty
            fail(url, fetched ? QStringLiteral("the list was not stored") : getFile_.LastError());
        }
        try {
            ReadUpdateList(listFile, run_.UpdateList);
        } catch (const Exception& e) {
            fail(QDir::toNativeSeparators(listFile), e.message());
        }
    }

    // Every size line and every path is checked before anything is downloaded: a list that is
    // wrong anywhere installs nothing.
    void validateList()
    {
        const QList<QByteArray>& list = run_.UpdateList;
        for (qsizetype i = 0; i + 1 < list.size(); i += 2) {
            try {
                (void)StrToInt64(list[i + 1]);
            } catch (const Exception& e) {
                report(QStringLiteral("update.txt"), e.message());
            }
            if (!ListedPath(list[i]).isSafe())
                fail(displayText(list[i].left(200)), QStringLiteral("unsafe path in the update list"));
        }
        host_.SetOverallPosition(0);
        host_.SetOverallMax(int(list.size()));
    }

    // With the studio's key (UpdateKey), the list is accepted only when its signed checksum list
    // vouches for it; without a key, a checksum list the site has is still used to check the
    // downloads (a missing or broken one is then ignored).
    void fetchManifest()
    {
        const QByteArray key = run_.text("UpdateKey");
        const bool keyed = !key.isEmpty() && key != "[error]";
        const QString sumsFile = tempFile("update.sums");
        const QString sigFile = tempFile("update.sums.minisig");
        const QString listUrl = QString::fromLatin1(site_ + "update.txt");
        if (!keyed) {
            if (download(QString::fromLatin1(site_ + "update.sums"), sumsFile, kMaxListBytes))
                sums_ = Sums::parse(readAll(sumsFile));
            QFile::remove(sumsFile);
            return;
        }
        if (!download(QString::fromLatin1(site_ + "update.sums"), sumsFile, kMaxListBytes))
            fail(listUrl, QStringLiteral("no checksum list (update.sums: %1)").arg(getFile_.LastError()));
        if (!download(QString::fromLatin1(site_ + "update.sums.minisig"), sigFile, kMaxSignatureBytes))
            fail(listUrl, QStringLiteral("no signature (update.sums.minisig: %1)").arg(getFile_.LastError()));
        SignedListInput input;
        input.updateList = readAll(tempFile("update.txt"));
        input.sums = readAll(sumsFile);
        input.signature = readAll(sigFile);
        input.keyLine = key;
        input.storedTimestamp = readUpdateStamp(programFolder_);
        input.now = QDateTime::currentSecsSinceEpoch();
        for (qsizetype i = 0; i + 1 < run_.UpdateList.size(); i += 2)
            input.listedPaths << run_.UpdateList[i];
        SignedListVerdict verdict = checkSignedList(input);
        QFile::remove(sumsFile);
        QFile::remove(sigFile);
        if (!verdict.accepted)
            fail(listUrl, verdict.reason);
        QString why;
        if (!writeUpdateStamp(programFolder_, verdict.timestamp, &why))
            fail(QDir::toNativeSeparators(QDir(programFolder_).filePath(QStringLiteral("renewel.stamp"))), why);
        sums_ = std::move(verdict.sums);
    }

    QString tempFile(const char* name) const { return downloadFolder_ + QDir::separator() + QLatin1String(name); }

    // The checksum the list gives for an entry, if any.
    std::optional<QByteArray> listedDigest(const QByteArray& path) const
    {
        return sums_ ? sums_->digest(path) : std::nullopt;
    }

    bool differs(const QByteArray& listed, const QString& target, qint64 listedSize) const
    {
        if (LocalFileSize(target) != listedSize)
            return true;
        if (!run_.options_.Repair)
            return false;
        const std::optional<QByteArray> digest = listedDigest(listed);
        return digest && sha256OfFile(target) != *digest;
    }

    // Downloads run ahead of the installs: while the run works on one entry, the next differing
    // entries are already being fetched (#UpdateConnections at once, 6 unless set; 1 is one
    // after the other), within the byte rate #UpdateMaxRate when set.
    void startQueue()
    {
        bool ok = false;
        int connections = run_.text("UpdateConnections").toInt(&ok);
        if (!ok)
            connections = 6;
        connections = std::clamp(connections, 1, 16);
        const qint64 rate = run_.text("UpdateMaxRate").toLongLong(&ok);
        auto limiter = ok && rate > 0 ? std::make_shared<TRateLimiter>(rate) : nullptr;
        queue_ = std::make_unique<TDownloadQueue>(getFile_, connections, limiter, run_.options_.RetryDelayMs);
        queue_->OnSlotFree = [this] { fill(); };
        run_.queue_ = queue_.get();
    }

    // Decides, in list order, which entries differ and starts their downloads while there is room.
    void fill()
    {
        const QList<QByteArray>& list = run_.UpdateList;
        while (scan_ + 1 < list.size() && queue_->HasRoom()) {
            const qsizetype i = scan_;
            scan_ += 2;
            const ListedPath path(list[i]);
            const qint64 listedSize = StrToInt64(list[i + 1]);
            if (!differs(list[i], path.installPath(installBase_), listedSize))
                continue;
            const std::optional<QByteArray> digest = listedDigest(list[i]);
            TDownloadQueue::Job job;
            job.url = path.url(site_);
            job.file = downloadName(path, list[i]);
            job.maxSize = std::max<qint64>(listedSize, 1);  // a longer body is cut off there and fails
            job.hash = digest.has_value();
            queue_->Start(i, job);
        }
    }

    // Unique per entry, and the same from one run to the next.
    QString downloadName(const ListedPath& path, const QByteArray& listed) const
    {
        return downloadFolder_ + QDir::separator() + path.fileName() + QLatin1Char('.') +
               QString::fromLatin1(Sha256::hash(listed).toHex().left(8)) + QStringLiteral(".part");
    }

    void handleEntry(qsizetype i)
    {
        const QList<QByteArray>& list = run_.UpdateList;
        const qsizetype count = list.size();
        fill();
        const bool fetching = queue_->Has(i);
        if (fetching || !shown_.isValid() || shown_.elapsed() >= run_.options_.StatusEveryMs) {
            host_.SetStatus(run_.text("STatus2") + ' ' + list[i] + " ... [" + QByteArray::number(i / 2) + '\\' +
                            QByteArray::number(count / 2) + ']');
            host_.SetOverallPosition(int(i));
            host_.ProcessMessages();
            shown_.start();
            checkCancelled();
        }
        if (!fetching)
            return;

        const ListedPath path(list[i]);
        const qint64 listedSize = StrToInt64(list[i + 1]);
        const TDownloadQueue::Job job =
            queue_->Await(i, [this](qint64 total, qint64 readed) { host_.SetFileProgress(total, readed); });
        checkCancelled();
        if (!job.succeeded)
            fail(job.url, job.error);
        host_.SetFileProgress(listedSize, listedSize);
        const qint64 got = QFileInfo(job.file).size();
        if (got != listedSize)
            fail(job.url, QStringLiteral("received %1 bytes, the list says %2").arg(got).arg(listedSize));
        const std::optional<QByteArray> digest = listedDigest(list[i]);
        if (digest && job.digest != *digest)
            fail(job.url, QStringLiteral("hash mismatch (not the file the checksum list names)"));
        install(path, job.file, path.installPath(installBase_));
    }

    void install(const ListedPath& path, const QString& downloaded, const QString& target)
    {
        const QString folder = path.installFolder(installBase_);
        if (!InsideInstallation(folder, installBase_))
            fail(QDir::toNativeSeparators(target), QStringLiteral("its folder leads outside the installation"));
        EnsureFolder(folder);
        leftovers_.RemoveFor(target);
        // The download is complete and on disk: renaming it into place is the whole install.
        // Where that can't be done (another file system), it is copied in atomically.
        if (!MoveInto(downloaded, target)) {
            if (!InstallFile(downloaded, target))
                fail(QDir::toNativeSeparators(target), QStringLiteral("cannot install the file"));
            QFile::remove(downloaded);
        }
        touched_.insert(QFileInfo(target).absolutePath());
    }

    // The renames become durable folder by folder, once each, however the run ends.
    void syncTouchedFolders()
    {
        for (const QString& folder : std::as_const(touched_))
            SyncFolder(folder);
        touched_.clear();
    }

    void finish()
    {
        QFile::remove(tempFile("update.txt"));
        QDir().rmdir(downloadFolder_);
        run_.outcome_.kind = TUpdateOutcome::Completed;
        if (!run_.options_.Quiet)
            host_.ShowMessage(run_.text("Done"));
        host_.Terminate();
    }

    bool download(const QString& url, const QString& file, qint64 maxSize)
    {
        getFile_.URL = url;
        getFile_.FileName = file;
        getFile_.MaxSize = maxSize;
        getFile_.Fetch();
        checkCancelled();
        return getFile_.Succeeded();
    }

    void checkCancelled()
    {
        if (!run_.cancelled_)
            return;
        run_.outcome_ = {TUpdateOutcome::Cancelled, {}, {}};
        host_.Terminate();
        throw Stop();
    }

    // A failure that stops the run: one line on standard error, "Error" unless quiet, no "Done";
    // what was downloaded stays in the download folder.
    [[noreturn]] void fail(const QString& subject, const QString& reason)
    {
        settle(subject, reason);
        if (!run_.options_.Quiet)
            host_.ShowMessage(run_.text("Error"));
        host_.Terminate();
        throw Stop();
    }

    // A failure shown by the general error report; the window stays open unless quiet.
    [[noreturn]] void report(const QString& subject, const QString& message)
    {
        settle(subject, message);
        host_.ShowErrorReport(message);
        if (run_.options_.Quiet)
            host_.Terminate();
        throw Stop();
    }

    void settle(const QString& subject, const QString& reason)
    {
        run_.outcome_ = {TUpdateOutcome::Failed, subject, reason};
        PrintFailure(subject, reason);
    }

    TUpdateRun& run_;
    UpdateHost& host_;
    THTTPGet& getFile_;
    const QString programFolder_;
    const QString downloadFolder_;
    const QString installBase_;
    const QByteArray site_;
    QLockFile lock_;
    TInstallLeftovers leftovers_;
    QElapsedTimer shown_;
    std::optional<Sums> sums_;
    std::unique_ptr<TDownloadQueue> queue_;
    qsizetype scan_ = 0;  // the next entry fill() decides on
    QSet<QString> touched_;  // folders that files were renamed into

public:
    ~Pass() { syncTouchedFolders(); }
};

TUpdateRun::TUpdateRun(UpdateHost& host, THTTPGet& getFile, TUpdateOptions options)
    : host_(host), getFile_(getFile), options_(std::move(options))
{
}

QByteArray TUpdateRun::text(const QByteArray& key) const
{
    return options_.Texts ? options_.Texts->Translate(key) : Translate(key);
}

TUpdateOutcome TUpdateRun::UpdateRun()
{
    if (running_)
        return {};
    RunningFlag flag(running_);
    cancelled_ = false;
    outcome_ = {};
    try {
        Pass(*this).Run();
    } catch (const Stop&) {
    }
    queue_ = nullptr;
    return outcome_;
}

void TUpdateRun::Cancel()
{
    if (!running_)
        return;
    cancelled_ = true;
    getFile_.Abort();
    if (queue_)
        queue_->AbortAll();
}
