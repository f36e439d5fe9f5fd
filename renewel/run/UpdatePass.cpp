#include "run/UpdatePass.h"

#include "net/DownloadQueue.h"
#include "net/DownloadFile.h"
#include "net/HTTPGet.h"
#include "net/HTTPSink.h"
#include "net/RateLimiter.h"
#include "run/ChunkUpdate.h"
#include "run/FailureLine.h"
#include "run/UpdateFiles.h"
#include "run/UpdateHost.h"
#include "run/langSys.h"
#include "site/SiteFiles.h"
#include "trust/Sha256.h"

#include "AtomicFile.h"
#include "Text.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <filesystem>
#include <system_error>

UpdatePass::UpdatePass(UpdateListEntries& list, UpdatePlan& plan, const UpdateOptions& options, UpdateHost& host,
                       THTTPGet& getFile, bool& cancelled, UpdateOutcome& outcome, DownloadQueue*& queueSlot)
    : list_(list), plan_(plan), options_(options), host_(host), getFile_(getFile), cancelled_(cancelled),
      outcome_(outcome), queueSlot_(queueSlot), programFolder_(options.ProgramFolder),
      downloadFolder_(options.CheckOnly ? checkFolder_.path() : DownloadFolder(programFolder_)),
      installBase_(InstallBase(programFolder_)), lock_(QDir(programFolder_).filePath(InstallationFile::Lock)),
      sources_(options.Settings.Site, options.Settings.Mirrors)
{
}

// What was installed is recorded, and the renames become durable folder by folder, once each,
// however the run ends.
UpdatePass::~UpdatePass()
{
    stopQueue();
    check_.reset();
    saveState(false);
    for (const QString& folder : std::as_const(touched_))
        SyncFolder(folder);
}

void UpdatePass::Run()
{
    list_ = {};
    if (!options_.CheckOnly)
        claimInstallation();
    state_ = InstalledState::Read(programFolder_, installBase_);
    makeDownloadFolder();
    startQueue();
    takeList();
    startCheck();
    if (options_.CheckOnly)
        return planOnly();
    startChunks();
    queue_->OnSlotFree = [this] { fill(); };
    for (qsizetype i = 0; i < list_.entries.size(); ++i)
        handleEntry(i);
    removeDropped(droppedFiles());
    finish();
}

// Only one run works on an installation at a time.
void UpdatePass::claimInstallation()
{
    if (const Status locked = lock_.Acquire(); !locked)
        fail(QDir::toNativeSeparators(installBase_), locked.error() == InstallationLock::Busy
                                                         ? locked.error()
                                                         : QStringLiteral("cannot lock the installation: ") + locked.error());
    locked_ = true;
}

void UpdatePass::makeDownloadFolder()
{
    if (options_.CheckOnly)
        return;
    // The download folder is written and emptied: never through a link that leaves the
    // installation.
    if (QFileInfo(downloadFolder_).isSymLink() && !InsideInstallation(downloadFolder_, installBase_))
        fail(QDir::toNativeSeparators(downloadFolder_), QStringLiteral("it leads outside the installation"));
    if (QFileInfo(downloadFolder_).isDir() || QDir().mkdir(downloadFolder_) || options_.Quiet)
        return;
    // The general error report with the "Error" text; the window stays open.
    report(QDir::toNativeSeparators(downloadFolder_), displayText(text("Error")));
}

void UpdatePass::startCheck()
{
    check_ = std::make_unique<EntryCheck>(list_.entries, installBase_, sums_ ? &*sums_ : nullptr, state_,
                                           options_.Repair);
    check_->OnHashed = [this] {
        if (queue_)
            fill();
    };
}

// Where the site has checksums, files it keeps a chunk index for are updated from its chunks.
void UpdatePass::startChunks()
{
    if (!sums_)
        return;
    chunks_ = std::make_unique<ChunkUpdate>(ChunkUpdate::Context{
        *queue_, host_, state_, list_.entries, *sums_, sources_, programFolder_, installBase_,
        downloadFolder_, [this] { checkCancelled(); },
        [this](const QString& subject, const QString& reason) { fail(subject, reason); }});
}

// A check decides every entry and names the dropped files, and changes nothing.
void UpdatePass::planOnly()
{
    for (qsizetype i = 0; i < list_.entries.size(); ++i) {
        if (check_->AwaitDiffers(i)) {
            plan_.fetch << list_.entries[i];
            plan_.bytes += list_.entries[i].size;
        }
        checkCancelled();
    }
    plan_.remove = droppedFiles();
    outcome_.kind = UpdateOutcome::Completed;
    outcome_.endProgram = true;
}

// Downloads run ahead of the installs: while the run works on one entry, the next differing
// entries are already being fetched (HTTP/2 streams on one connection where the site offers them,
// else #UpdateConnections HTTP/1.1 connections; 1 is one after the other), within the byte rate
// #UpdateMaxRate when set. The lists beside update.txt come through it too.
void UpdatePass::startQueue()
{
    const UpdateSettings& settings = options_.Settings;
    auto limiter = settings.MaxRate > 0 ? std::make_shared<RateLimiter>(settings.MaxRate) : nullptr;
    queue_ = std::make_unique<DownloadQueue>(getFile_, settings.Connections, limiter, options_.RetryDelayMs);
    queueSlot_ = queue_.get();
}

// Ends the downloads still running; the small lists beside update.txt never stay behind.
void UpdatePass::stopQueue()
{
    queueSlot_ = nullptr;
    queue_.reset();
    for (const QString& name : {SiteFile::Sums, SiteFile::Signature}) {
        QFile::remove(tempFile(name));
        QFile::remove(FileSink::ValidatorFile(tempFile(name)));
    }
}

// Decides, in list order, which entries differ and starts their downloads while there is room.
void UpdatePass::fill()
{
    if (filling_)
        return;
    filling_ = true;
    const QList<UpdateEntry>& entries = list_.entries;
    while (scan_ < entries.size() && queue_->HasRoom() && !cancelled_) {
        const std::optional<bool> differs = check_->Differs(scan_);
        if (!differs)
            break;  // still being hashed: the hash's arrival fills again
        if (!*differs) {
            ++scan_;
            continue;
        }
        const int source = sources_.pick();
        if (source < 0)
            break;  // every source failed: the entry being awaited ends the run
        const UpdateEntry& entry = entries[scan_];
        std::optional<DownloadQueue::Job> index = chunks_ ? chunks_->IndexJob(entry, source) : std::nullopt;
        queue_->Start(scan_++, index ? *index : entryJob(entry, source));
        plan_.fetch << entry;
        plan_.bytes += entry.size;
    }
    // Hashing goes on ahead while the downloads take every connection.
    if (scan_ < entries.size())
        check_->Prefetch(scan_);
    filling_ = false;
}

// The download of an entry from a source. Where other sources could take over, a failure is not
// tried again on the same one: the source is dropped and the download goes to another.
DownloadQueue::Job UpdatePass::entryJob(const UpdateEntry& entry, int source) const
{
    DownloadQueue::Job job;
    job.url = entry.path.url(sources_.prefix(source));
    job.file = downloadName(entry);
    job.maxSize = std::max<qint64>(entry.size, 1);  // a longer body is cut off there and fails
    job.hash = true;  // for the installed-state record, and the checksum where listed
    job.retry = sources_.aliveCount() <= 1;
    return job;
}

// Unique for every distinct path (128 bits of its hash), and the same from one run to the next.
// A long name is shortened so that the whole stays within a file name's 255 bytes.
QString UpdatePass::downloadName(const UpdateEntry& entry) const
{
    QString name = entry.path.fileName();
    while (QFile::encodeName(name).size() > 200)
        name.chop(1);
    return tempFile(name + QLatin1Char('.') + QString::fromLatin1(Sha256::hash(entry.listed).toHex().left(32)) +
                    QStringLiteral(".part"));
}

void UpdatePass::handleEntry(qsizetype i)
{
    const QList<UpdateEntry>& entries = list_.entries;
    const UpdateEntry& entry = entries[i];
    fill();
    if (scan_ <= i) {  // not decided yet: its file is being hashed
        check_->AwaitDiffers(i);
        checkCancelled();
        fill();
    }
    const bool fetching = queue_->Has(i);
    // The status line follows at a readable rate: thousands of small files a second would spend
    // the main thread on repainting it, and starve the downloads of new work.
    if (!shown_.isValid() || shown_.elapsed() >= options_.StatusEveryMs) {
        host_.EntryReached(i, entries.size(), entry.listed);
        shown_.start();
        checkCancelled();
    }
    if (!fetching)
        return;

    if (chunks_ && chunks_->HasIndex(entry)) {  // its chunk index was fetched in place of the file
        const DownloadQueue::Job index = queue_->Await(i, nullptr);
        checkCancelled();
        if (const std::optional<QString> built = chunks_->Build(entry, index)) {
            install(entry, *built, *listedDigest(entry.listed));
            host_.FileInstalled(entry.listed);
            return;
        }
        const int source = sources_.pick();
        if (source < 0)
            fail(entry.path.url(sources_.prefix(0)), QStringLiteral("no update source is left"));
        queue_->Start(i, entryJob(entry, source));
    }
    host_.FileStarted(entry.listed, entry.size);
    const DownloadQueue::Job job = awaitEntry(i, entry);
    host_.FileProgress(entry.size, entry.size);
    install(entry, job.file, job.digest);
    host_.FileInstalled(entry.listed);
}

// The entry's download once it is the listed file. A source that failed it is dropped and the
// download starts over from another; the run fails when no source is left.
DownloadQueue::Job UpdatePass::awaitEntry(qsizetype i, const UpdateEntry& entry)
{
    for (;;) {
        DownloadQueue::Job job =
            queue_->Await(i, [this](qint64 total, qint64 readed) { host_.FileProgress(total, readed); });
        checkCancelled();
        const QString why = problemWith(job, entry);
        if (why.isEmpty())
            return job;
        sources_.failed(sources_.sourceOf(job.url), why);
        const int next = sources_.pick();
        if (next < 0)
            fail(job.url, why);
        QFile::remove(job.file);
        QFile::remove(FileSink::ValidatorFile(job.file));
        queue_->Start(i, entryJob(entry, next));
    }
}

// Why a finished download is not the listed file (empty when it is).
QString UpdatePass::problemWith(const DownloadQueue::Job& job, const UpdateEntry& entry) const
{
    if (!job.succeeded)
        return job.error;
    const qint64 got = DownloadFileSize(job.file);  // a link there is no download
    if (got != entry.size)
        return QStringLiteral("received %1 bytes, the list says %2").arg(got).arg(entry.size);
    const std::optional<QByteArray> digest = listedDigest(entry.listed);
    if (digest && job.digest != *digest)
        return QStringLiteral("hash mismatch (not the file the checksum list names)");
    return {};
}

void UpdatePass::install(const UpdateEntry& entry, const QString& downloaded, const QByteArray& digest)
{
    const QString target = entry.path.installPath(installBase_);
    const QString folder = entry.path.installFolder(installBase_);
    const QString shown = displayText(entry.listed.mid(1));
    if (!InsideInstallation(folder, installBase_))
        fail(QDir::toNativeSeparators(target), QStringLiteral("its folder leads outside the installation"));
    noteMadeFolders(entry.listed);
    if (const Status made = EnsureFolder(folder); !made)
        fail(shown, QStringLiteral("cannot create its folder: ") + made.error());
    leftovers_.RemoveFor(target);
    // The download is complete and on disk: renaming it into place is the whole install.
    // Where that can't be done (another file system), it is copied in atomically.
    if (const Status moved = MoveInto(downloaded, target); !moved) {
        if (const Status copied = InstallFile(downloaded, target); !copied)
            fail(shown, QStringLiteral("cannot install the file: ") + copied.error());
        QFile::remove(downloaded);
    }
    touched_.insert(QFileInfo(target).absolutePath());
    if (const std::optional<FileIdentity> identity = IdentityOf(target))
        state_.Record(entry.listed, *identity, digest);
    if (chunks_)
        chunks_->Installed(entry, digest);
}

// A completed run leaves nothing in the download folder: partial downloads of files the list no
// longer names, and whatever else is there, go with it (links in it are removed, never
// followed). A download folder that is itself a link into the installation is only emptied of
// the list.
void UpdatePass::finish()
{
    std::error_code ignored;
    if (QFileInfo(downloadFolder_).isSymLink())
        QFile::remove(tempFile(SiteFile::List));
    else
        std::filesystem::remove_all(QFile::encodeName(downloadFolder_).toStdString(), ignored);
    QDir().rmdir(downloadFolder_);
    if (chunks_)
        chunks_->Prune();
    saveState(true);
    outcome_.kind = UpdateOutcome::Completed;
    outcome_.show = options_.Quiet ? UpdateOutcome::ShowNothing : UpdateOutcome::ShowDone;
    outcome_.endProgram = true;
}

bool UpdatePass::download(const QString& url, const QString& file, qint64 maxSize)
{
    getFile_.URL = url;
    getFile_.FileName = file;
    getFile_.MaxSize = maxSize;
    getFile_.Fetch();
    checkCancelled();
    return getFile_.Succeeded();
}

QString UpdatePass::tempFile(const QString& name) const { return downloadFolder_ + QDir::separator() + name; }

// A site file at the source the lists come from.
QString UpdatePass::siteUrl(const QString& name) const { return sources_.url(listSource_, name); }

// The checksum the list gives for an entry, if any.
std::optional<QByteArray> UpdatePass::listedDigest(const QByteArray& listed) const
{
    return sums_ ? sums_->digest(listed) : std::nullopt;
}

QByteArray UpdatePass::text(const char* key) const
{
    return options_.Texts ? options_.Texts->Translate(key) : Translate(key);
}

void UpdatePass::checkCancelled()
{
    if (!cancelled_)
        return;
    outcome_ = {};
    outcome_.kind = UpdateOutcome::Cancelled;
    outcome_.endProgram = true;
    throw Stop();
}

// A failure that stops the run: one line on standard error, "Error" unless quiet, no "Done";
// what was downloaded stays in the download folder.
void UpdatePass::fail(const QString& subject, const QString& reason)
{
    settle(subject, reason);
    outcome_.show = options_.Quiet ? UpdateOutcome::ShowNothing : UpdateOutcome::ShowError;
    outcome_.endProgram = true;
    throw Stop();
}

// A failure shown by the general error report; the window stays open unless quiet.
void UpdatePass::report(const QString& subject, const QString& message)
{
    settle(subject, message);
    outcome_.show = UpdateOutcome::ShowReport;
    outcome_.report = message;
    outcome_.endProgram = options_.Quiet;
    throw Stop();
}

void UpdatePass::settle(const QString& subject, const QString& reason)
{
    outcome_ = {};
    outcome_.kind = UpdateOutcome::Failed;
    outcome_.subject = subject;
    outcome_.reason = reason;
    PrintFailure(subject, reason);
}

// The folders that installing this path will make, for removing them again with the last file.
void UpdatePass::noteMadeFolders(const QByteArray& listed)
{
    const QList<QByteArray> parts = QByteArray(listed.mid(1)).replace('/', '\\').split('\\');
    QByteArray folder;
    for (qsizetype k = 0; k + 1 < parts.size(); ++k) {
        folder += '\\' + parts[k];
        if (!QFileInfo::exists(ListedPath(folder).installPath(installBase_)))
            state_.Made.insert(folder);
    }
}
