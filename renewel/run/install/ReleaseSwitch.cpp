#include "run/install/ReleaseSwitch.h"

#include "run/install/DroppedFiles.h"
#include "run/install/InstallFile.h"
#include "run/install/InstalledState.h"
#include "run/install/ExecutableBit.h"
#include "run/install/UpdateFiles.h"
#include "site/ListedPath.h"
#include "trust/UpdateStamp.h"

#include "AtomicFile.h"
#include "Text.h"
#include "platform/FileMode.h"
#include "platform/Folders.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

namespace {
QString shown(const QByteArray& listed) { return displayText(listed.mid(1)); }

// Renames the staged file over its target; where that can't be done (another file system) it is
// copied in atomically.
Status moveStaged(const SwitchJournal::Move& move)
{
    if (renameOver(move.staged, move.target))
        return {};
    if (const Status copied = InstallFile(move.staged, move.target); !copied)
        return Status::failure(QStringLiteral("cannot install the file: ") + copied.error());
    QFile::remove(move.staged);
    return {};
}
}  // namespace

Status ReleaseSwitch::stage(const PlannedEntry& planned, const QString& file, const QByteArray& digest,
                            const QString& stagedName)
{
    if (file != stagedName) {
        if (const Status moved = renameOver(file, stagedName); !moved)
            return Status::failure(QStringLiteral("cannot keep the download: ") + moved.error());
    }
    names_.insert(QFileInfo(stagedName).fileName());
    staged_ << std::pair(planned, SwitchJournal::Move{planned.entry.listed, digest, stagedName,
                                                      planned.entry.path.installPath(folders_.installBase)});
    return {};
}

// Before the journal: each staged file takes the mode it is to have (the old file's, with the
// executable bit the site names), so that the switch is renames alone.
Status ReleaseSwitch::prepare(SwitchJournal& journal, QString* subject)
{
    QSet<QByteArray> made;
    for (const auto& [planned, move] : std::as_const(staged_)) {
        *subject = shown(move.listed);
        if (!InsideInstallation(planned.entry.path.installFolder(folders_.installBase), folders_.installBase)) {
            *subject = QDir::toNativeSeparators(move.target);
            return Status::failure(QStringLiteral("its folder leads outside the installation"));
        }
        const QFileInfo existing(move.target);
        if (existing.isFile() && !existing.isSymLink())
            QFile::setPermissions(move.staged, existing.permissions());
        if (planned.executable) {
            if (const Status set = platform::setExecutable(move.staged, *planned.executable); !set)
                return Status::failure(QStringLiteral("cannot set its executable bit: ") + set.error());
        }
        for (const QByteArray& folder : ListedPath::foldersAbove(move.listed)) {
            if (!made.contains(folder) && !QFileInfo::exists(ListedPath(folder).installPath(folders_.installBase)))
                journal.made << folder;
            made.insert(folder);
        }
        journal.moves << move;
    }
    return {};
}

Status ReleaseSwitch::switchIn(const QList<QByteArray>& dropped, std::optional<qint64> stamp, const Hooks& hooks,
                               QString* subject)
{
    SwitchJournal journal;
    journal.dropped = dropped;
    journal.stamp = stamp;
    if (const Status prepared = prepare(journal, subject); !prepared)
        return prepared;
    // Every staged file is on disk before the journal names it: a rename over an old file then
    // has no data of the new one left to write, and a power cut after it finds whole files.
    if (const Status synced = platform::syncFileSystem(folders_.download); !synced) {
        *subject = QDir::toNativeSeparators(folders_.download);
        return Status::failure(QStringLiteral("cannot flush the staged files: ") + synced.error());
    }
    if (const Status written = journal.write(folders_.download); !written) {
        *subject = QDir::toNativeSeparators(SwitchJournal::path(folders_.download));
        return written;
    }
    if (const Status done = carryOut(journal, folders_, state_, hooks, subject); !done)
        return done;
    for (const PlannedEntry& planned : std::as_const(modes_)) {
        const std::optional<bool> due = ExecutableBitDue(planned, folders_.installBase);
        const Status set = due ? platform::setExecutable(planned.entry.path.installPath(folders_.installBase), *due)
                               : Status();
        if (!set) {
            *subject = shown(planned.entry.listed);
            return Status::failure(QStringLiteral("cannot set its executable bit: ") + set.error());
        }
    }
    return {};
}

// The journal's work, from wherever a cut-off switch stopped: a staged file that is gone was
// renamed already; a dropped file that is gone was deleted. The folders are made first and the
// bookkeeping follows the renames, so that the installation is mixed for the renames alone.
Status ReleaseSwitch::carryOut(const SwitchJournal& journal, const RunFolders& folders, InstalledState& state,
                               const Hooks& hooks, QString* subject)
{
    QList<const SwitchJournal::Move*> due;
    QSet<QString> touched;
    InstallLeftovers leftovers;
    for (const SwitchJournal::Move& move : journal.moves) {
        if (!QFileInfo::exists(move.staged))
            continue;
        const QString folder = QFileInfo(move.target).absolutePath();
        if (!touched.contains(folder)) {
            if (const Status made = EnsureFolder(folder); !made) {
                *subject = shown(move.listed);
                return Status::failure(QStringLiteral("cannot create its folder: ") + made.error());
            }
            touched.insert(folder);
        }
        leftovers.removeFor(move.target);
        due << &move;
    }
    for (const SwitchJournal::Move* move : std::as_const(due)) {
        if (const Status moved = moveStaged(*move); !moved) {
            *subject = shown(move->listed);
            return moved;
        }
    }
    for (const SwitchJournal::Move* move : std::as_const(due)) {
        if (const std::optional<FileIdentity> identity = IdentityOf(move->target))
            state.record(move->listed, *identity, move->digest);
        if (hooks.installed)
            hooks.installed(move->listed);
    }
    return settle(journal, folders, state, hooks, touched, subject);
}

// After the renames: the folders made are recorded, the dropped files leave, the renames are made
// durable and the stamp written.
Status ReleaseSwitch::settle(const SwitchJournal& journal, const RunFolders& folders, InstalledState& state,
                             const Hooks& hooks, const QSet<QString>& touched, QString* subject)
{
    for (const QByteArray& folder : journal.made)
        state.Made.insert(folder);
    DroppedFiles(folders.installBase, state).remove(journal.dropped, [&](const QByteArray& listed) {
        if (hooks.deleted)
            hooks.deleted(listed);
    });
    for (const QString& folder : touched)
        SyncFolder(folder);
    if (journal.stamp) {
        if (const Status written = writeUpdateStamp(folders.program, *journal.stamp); !written) {
            *subject = QDir::toNativeSeparators(updateStampPath(folders.program));
            return written;
        }
    }
    return {};
}

Status ReleaseSwitch::finishLeftover(const RunFolders& folders, InstalledState& state, QString* subject)
{
    *subject = QDir::toNativeSeparators(SwitchJournal::path(folders.download));
    const Result<std::optional<SwitchJournal>> journal = SwitchJournal::read(folders.download);
    if (!journal)
        return Status::failure(journal.error());
    if (!journal.value())
        return {};
    if (const Status done = carryOut(**journal, folders, state, {}, subject); !done)
        return done;
    SwitchJournal::remove(folders.download);
    return {};
}
