// The update run's installed-state record, and the files a new release dropped.
#include "run/UpdatePass.h"

#include "run/LocalHash.h"
#include "run/UpdateFiles.h"
#include "run/UpdateHost.h"
#include "site/SiteFiles.h"

#include <QDir>
#include <QFile>

namespace {
QSet<QByteArray> pathsOf(const QList<UpdateEntry>& entries)
{
    QSet<QByteArray> paths;
    for (const UpdateEntry& entry : entries)
        paths.insert(entry.listed);
    return paths;
}
}  // namespace

// Paths the previous list named and this one does not, whose installed file still has the hash
// renewel recorded for it (read again to be sure): files the player made or changed are kept.
// Only a site with checksums (signed where a key is set) can drop files: a bare list might be
// anything a server answers.
QList<QByteArray> UpdatePass::droppedFiles()
{
    if (list_.problem.kind != ListProblem::None || !sums_)
        return {};
    const QSet<QByteArray> now = pathsOf(list_.entries);
    QList<QByteArray> dropped;
    for (const QByteArray& listed : std::as_const(state_.Listed)) {
        const ListedPath path(listed);
        const InstalledState::Entry* entry = state_.Find(listed);
        if (now.contains(listed) || !entry || !path.isSafe() || IsReservedListedPath(listed))
            continue;
        const QString target = path.installPath(installBase_);
        if (!InsideInstallation(path.installFolder(installBase_), installBase_))
            continue;
        const Result<QByteArray> local = HashWhileEventsFlow(target);
        if (local && local.value() == entry->sha256)
            dropped << listed;
    }
    std::sort(dropped.begin(), dropped.end());
    return dropped;
}

// Deletes the dropped files once the new ones are in place, and the folders renewel made for them
// once they are empty.
void UpdatePass::removeDropped(const QList<QByteArray>& dropped)
{
    for (const QByteArray& listed : dropped) {
        if (!QFile::remove(ListedPath(listed).installPath(installBase_)))
            continue;
        state_.Forget(listed);
        plan_.remove << listed;
        host_.FileDeleted(listed);
        QByteArray folder = listed.left(std::max(listed.lastIndexOf('\\'), listed.lastIndexOf('/')));
        while (!folder.isEmpty() && state_.Made.contains(folder) &&
               QDir().rmdir(ListedPath(folder).installPath(installBase_))) {
            state_.Made.remove(folder);
            folder = folder.left(std::max(folder.lastIndexOf('\\'), folder.lastIndexOf('/')));
        }
    }
}

// Written at the end of every run that held the installation: after a completed run the record
// names the new list alone; otherwise the files of both lists stay candidates for deletion.
void UpdatePass::saveState(bool completed)
{
    if (stateSaved_ || !locked_ || options_.CheckOnly)
        return;
    stateSaved_ = true;
    if (list_.problem.kind == ListProblem::None && !list_.entries.isEmpty()) {
        const QSet<QByteArray> now = pathsOf(list_.entries);
        if (completed) {
            state_.Listed = now;
            state_.KeepOnly(now);
        } else {
            state_.Listed.unite(now);
        }
    } else if (completed) {
        state_.Listed.clear();
        state_.KeepOnly({});
    }
    state_.Write(programFolder_, installBase_);
}
