#include "run/install/DroppedFiles.h"

#include "run/install/InstalledState.h"
#include "run/install/UpdateFiles.h"
#include "site/SiteFiles.h"
#include "site/UpdateList.h"
#include "trust/Sha256.h"

#include <QDir>
#include <QFile>
#include <QSet>

#include <algorithm>

void DroppedFiles::find(const QList<UpdateEntry>& listedNow, Found found)
{
    // Paths compare by folded key: a file the new list names in another spelling is not dropped,
    // and one the record holds in two spellings is dropped once.
    QSet<QString> seen;
    for (const UpdateEntry& entry : listedNow)
        seen.insert(ListedPath::foldedKey(entry.listed));
    QList<std::pair<QByteArray, QString>> candidates;  // listed path, installed file
    QList<QByteArray> recorded;
    for (const QByteArray& listed : std::as_const(state_.Listed)) {
        const ListedPath path(listed);
        const InstalledState::Entry* entry = state_.find(listed);
        const QString key = ListedPath::foldedKey(listed);
        if (seen.contains(key) || !entry || !path.isSafe() || IsReservedListedPath(listed))
            continue;
        seen.insert(key);
        if (!InsideInstallation(path.installFolder(installBase_), installBase_))
            continue;
        candidates << std::pair(listed, path.installPath(installBase_));
        recorded << entry->sha256;
    }
    tasks_.run<QList<QByteArray>>(
        [candidates, recorded] {
            QList<QByteArray> dropped;
            for (qsizetype i = 0; i < candidates.size(); ++i) {
                const Result<QByteArray> local = sha256OfFile(candidates[i].second);
                if (local && local.value() == recorded[i])
                    dropped << candidates[i].first;
            }
            std::sort(dropped.begin(), dropped.end());
            return dropped;
        },
        std::move(found));
}

void DroppedFiles::remove(const QList<QByteArray>& dropped, const std::function<void(const QByteArray&)>& deleted)
{
    for (const QByteArray& listed : dropped) {
        if (!QFile::remove(ListedPath(listed).installPath(installBase_)))
            continue;
        state_.forget(listed);
        deleted(listed);
        QList<QByteArray> folders = ListedPath::foldersAbove(listed);
        while (!folders.isEmpty() && state_.isMade(folders.last()) &&
               QDir().rmdir(ListedPath(folders.last()).installPath(installBase_))) {
            state_.forgetMade(folders.last());
            folders.removeLast();
        }
    }
}
