#include "release/PreviousList.h"

#include "common/SiteFileReading.h"
#include "site/ListedPath.h"
#include "site/SiteFiles.h"
#include "site/Sums.h"
#include "site/UpdateList.h"

#include <QFile>

namespace {

QByteArray readFile(const QString& path)
{
    return readSiteFile(path, SiteFileLimit).value_or({});
}

// "\maps\forest.ivm" as the release names it: "maps/forest.ivm".
QString shownPath(const QByteArray& listed) { return ListedPath::toRelative(listed); }

}  // namespace

PreviousList PreviousList::read(const QString& currentRelease)
{
    PreviousList previous;
    if (currentRelease.isEmpty())
        return previous;
    const UpdateListEntries list = UpdateListEntries::parse(readFile(currentRelease + '/' + SiteFile::List));
    const Result<Sums> sums = Sums::parse(readFile(currentRelease + '/' + SiteFile::Sums));
    for (const UpdateEntry& entry : list.entries) {
        previous.listed_.append(entry.listed);
        if (sums) {
            if (const auto digest = sums->digest(entry.listed))
                previous.digests_.insert(ListedPath::foldedKey(entry.listed), *digest);
        }
    }
    return previous;
}

QByteArray PreviousList::digest(const QByteArray& listed) const
{
    return digests_.value(ListedPath::foldedKey(listed));
}

ChangeList PreviousList::compare(const QList<QByteArray>& listed, const QHash<QByteArray, QByteArray>& digests) const
{
    ChangeList changes;
    QSet<QString> before;
    for (const QByteArray& path : listed_)
        before.insert(ListedPath::foldedKey(path));
    QSet<QString> now;
    for (const QByteArray& path : listed) {
        const QString key = ListedPath::foldedKey(path);
        now.insert(key);
        if (!before.contains(key))
            changes.added.append(shownPath(path));
        else if (digests_.value(key) != digests.value(path))
            changes.changed.append(shownPath(path));
        else
            ++changes.unchanged;
    }
    for (const QByteArray& path : listed_) {
        if (!now.contains(ListedPath::foldedKey(path)))
            changes.removed.append(shownPath(path));
    }
    return changes;
}
