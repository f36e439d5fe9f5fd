#include "release/PreviousList.h"

#include "common/SiteFileReading.h"
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
QString shownPath(const QByteArray& listed) { return QString::fromUtf8(listed.mid(1)).replace('\\', '/'); }

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
                previous.digests_.insert(entry.listed, *digest);
        }
    }
    return previous;
}

ChangeList PreviousList::compare(const QList<QByteArray>& listed, const QHash<QByteArray, QByteArray>& digests) const
{
    ChangeList changes;
    const QSet<QByteArray> before(listed_.begin(), listed_.end());
    for (const QByteArray& path : listed) {
        if (!before.contains(path))
            changes.added.append(shownPath(path));
        else if (digests_.value(path) != digests.value(path))
            changes.changed.append(shownPath(path));
        else
            ++changes.unchanged;
    }
    for (const QByteArray& path : listed_) {
        if (!digests.contains(path))
            changes.removed.append(shownPath(path));
    }
    return changes;
}
