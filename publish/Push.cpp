#include "Push.h"

#include "PublishError.h"
#include "PushRecord.h"
#include "RcloneTool.h"
#include "SiteLayout.h"
#include "site/SiteFiles.h"

#include <QDir>
#include <QDirIterator>
#include <QFileInfo>
#include <QTemporaryFile>

namespace {

// Signature first, update.txt last: a player reads update.txt first, so once it is new the
// checksums and signature that vouch for it are there.
const QStringList ListsInOrder = {SiteFile::Signature, SiteFile::Sums, SiteFile::List};

// Every object of the site: its files, and the files its folders and links lead to.
QStringList objectsOf(const QString& release)
{
    QStringList objects;
    QDirIterator it(release, QDir::Files | QDir::Hidden | QDir::NoDotAndDotDot, QDirIterator::Subdirectories | QDirIterator::FollowSymlinks);
    while (it.hasNext())
        objects.append(QDir(release).relativeFilePath(it.next()));
    return objects;
}

QString joined(const QString& remote, const QString& object)
{
    return remote.endsWith('/') || remote.endsWith(':') ? remote + object : remote + '/' + object;
}

void deleteObjects(const Rclone& rclone, const QString& remote, const QStringList& objects, PushSummary& summary)
{
    if (objects.isEmpty())
        return;
    QTemporaryFile names;
    if (!names.open())
        throw PublishError{names.fileName(), names.errorString()};
    names.write(objects.join('\n').toUtf8() + '\n');
    names.flush();
    summary.deleted += rclone.run({QStringLiteral("delete"), remote, QStringLiteral("--files-from-raw"), names.fileName()})
                           .deleted;
}

}  // namespace

PushSummary pushSite(const PushOptions& options)
{
    SiteLayout layout(options.siteDir);
    if (layout.current().isEmpty())
        throw PublishError{options.siteDir, QStringLiteral("nothing published to push")};
    const Rclone rclone;
    layout.prepare();  // no publish may replace the release while it is sent
    const QString release = layout.current();
    const QStringList objects = objectsOf(release);
    PushRecord record = PushRecord::read(layout.releases(), options.remote);
    record.hold(objects);
    record.write();

    PushSummary summary;
    const QStringList compare = rclone.comparisonFlags(options.remote);
    QStringList copy = {QStringLiteral("copy"), release, options.remote, QStringLiteral("--copy-links")};
    for (const QString& list : ListsInOrder)
        copy << QStringLiteral("--exclude") << '/' + list;
    summary.sent += rclone.run(copy + compare).copied;

    for (const QString& list : ListsInOrder) {
        if (QFileInfo::exists(release + '/' + list)) {
            summary.sent += rclone.run(QStringList{QStringLiteral("copyto"), release + '/' + list,
                                                   joined(options.remote, list)} + compare).copied;
        } else {
            // A signature left from a signed release would vouch for old checksums only.
            summary.deleted += rclone.run({QStringLiteral("delete"), options.remote, QStringLiteral("--include"), '/' + list})
                                   .deleted;
        }
    }
    record.complete();
    record.write();

    // The site's own objects were just marked as held by this push, so none of them is here.
    const QStringList unneeded = record.unneeded(options.keep);
    deleteObjects(rclone, options.remote, unneeded, summary);
    record.forget(unneeded);
    record.write();
    return summary;
}
