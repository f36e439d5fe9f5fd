#include "Push.h"

#include "PublishError.h"
#include "PushRecord.h"
#include "RcloneTool.h"
#include "SiteLayout.h"
#include "StoreObjects.h"
#include "chunk/ChunkStore.h"
#include "site/SiteFiles.h"
#include "site/Sums.h"
#include "site/UpdateList.h"
#include "trust/Sha256.h"

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <QTemporaryFile>

#include <memory>

namespace {

// Signature first, update.txt last: a player reads update.txt first, so once it is new the
// checksums and signature that vouch for it are there.
const QStringList ListsInOrder = {SiteFile::Signature, SiteFile::Sums, SiteFile::List};

// Every object of the site: its files, and the files its folders and links lead to, except the
// chunk store (of which a release needs only what its indexes name: see StoreObjects).
QStringList objectsOf(const QString& release)
{
    QStringList objects;
    const QDir root(release);
    for (const QFileInfo& entry : root.entryInfoList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot)) {
        if (entry.fileName() == ChunkStore::Folder && entry.isSymLink())
            continue;
        if (!entry.isDir()) {
            if (entry.isFile())
                objects.append(entry.fileName());
            continue;
        }
        QDirIterator it(entry.filePath(), QDir::Files | QDir::Hidden | QDir::NoDotAndDotDot,
                        QDirIterator::Subdirectories | QDirIterator::FollowSymlinks);
        while (it.hasNext())
            objects.append(root.relativeFilePath(it.next()));
    }
    return objects;
}

QString joined(const QString& remote, const QString& object)
{
    return remote.endsWith('/') || remote.endsWith(':') ? remote + object : remote + '/' + object;
}

// A file naming objects, one a line, for rclone's --files-from-raw.
std::unique_ptr<QTemporaryFile> nameFile(const QStringList& objects)
{
    auto names = std::make_unique<QTemporaryFile>();
    if (!names->open())
        throw PublishError{names->fileName(), names->errorString()};
    if (names->write(objects.join('\n').toUtf8() + '\n') < 0 || !names->flush())
        throw PublishError{names->fileName(), names->errorString()};
    return names;
}

void deleteObjects(const Rclone& rclone, const QString& remote, const QStringList& objects, PushSummary& summary)
{
    if (objects.isEmpty())
        return;
    const auto names = nameFile(objects);
    summary.deleted += rclone.run({QStringLiteral("delete"), remote, QStringLiteral("--files-from-raw"), names->fileName()})
                           .deleted;
}

// The SHA-256 of each object: a listed file's from update.sums (the release was published with
// those bytes), any other file's (the lists, a news page) read from the file.
QHash<QString, QByteArray> digestsOf(const QString& release, const QStringList& objects)
{
    QHash<QString, QByteArray> digests;
    QFile listFile(release + '/' + SiteFile::List);
    QFile sumsFile(release + '/' + SiteFile::Sums);
    if (listFile.open(QIODevice::ReadOnly) && sumsFile.open(QIODevice::ReadOnly)) {
        if (const Result<Sums> sums = Sums::parse(sumsFile.readAll())) {
            const QDir root(release);
            for (const UpdateEntry& entry : UpdateListEntries::parse(listFile.readAll()).entries) {
                if (const std::optional<QByteArray> digest = sums->digest(entry.listed); digest && entry.path.isSafe())
                    digests.insert(root.relativeFilePath(entry.path.installPath(release)), *digest);
            }
        }
    }
    QHash<QString, QByteArray> result;
    for (const QString& object : objects) {
        if (const auto listed = digests.constFind(object); listed != digests.cend()) {
            result.insert(object, *listed);
            continue;
        }
        const Result<QByteArray> digest = sha256OfFile(release + '/' + object);
        if (!digest)
            throw PublishError{release + '/' + object, digest.error()};
        result.insert(object, *digest);
    }
    return result;
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
    const StoreObjects store = storeObjectsOf(release);
    PushRecord record = PushRecord::read(layout.releases(), options.remote);
    record.hold(objects);
    record.hold(store.chunks);
    record.hold(store.indexes);
    record.hold(store.deltas);

    // What changed since the last push to this remote is sent whatever rclone's comparison says:
    // a change that keeps the size within the remote's time precision would pass it unseen. The
    // record forgets those objects' bytes until they are sent, so an interrupted push sends them
    // again. Objects the record has as sent are left to rclone, which still catches a change made
    // on the remote where it can.
    const QHash<QString, QByteArray> digests = digestsOf(release, objects);
    QStringList changed;
    QStringList same;
    for (const QString& object : objects) {
        if (ListsInOrder.contains(object))
            continue;
        if (record.sentDigest(object) == digests.value(object)) {
            same.append(object);
        } else {
            changed.append(object);
            record.setSent(object, {});
        }
    }
    for (const QString& list : ListsInOrder) {
        if (record.sentDigest(list) != digests.value(list))
            record.setSent(list, {});
    }
    record.write();

    PushSummary summary;
    const QStringList compare = rclone.comparisonFlags(options.remote);
    const QStringList sendAll = {QStringLiteral("--ignore-times")};
    const auto copy = [&](const QStringList& batch, const QStringList& flags) {
        if (batch.isEmpty())
            return;
        const auto names = nameFile(batch);
        summary.sent += rclone.run(QStringList{QStringLiteral("copy"), release, options.remote, QStringLiteral("--copy-links"),
                                               QStringLiteral("--files-from-raw"), names->fileName()} + flags)
                            .copied;
    };
    // Store objects never change under their names: one the record has as sent is not compared
    // again, a new one is sent without looking at the remote; chunks before the indexes that name
    // them, the deltas to those indexes after them, all before the files and lists.
    for (const QStringList* objects : {&store.chunks, &store.indexes, &store.deltas}) {
        QStringList fresh;
        for (const QString& object : *objects) {
            if (record.sentDigest(object) != store.digests.value(object))
                fresh.append(object);
        }
        copy(fresh, {QStringLiteral("--no-check-dest")});
        for (const QString& object : fresh)
            record.setSent(object, store.digests.value(object));
        record.write();
    }
    copy(changed, sendAll);
    copy(same, compare);
    for (const QString& object : changed)
        record.setSent(object, digests.value(object));
    record.write();

    for (const QString& list : ListsInOrder) {
        if (QFileInfo::exists(release + '/' + list)) {
            const bool listChanged = record.sentDigest(list).isEmpty();
            summary.sent += rclone.run(QStringList{QStringLiteral("copyto"), release + '/' + list,
                                                   joined(options.remote, list)} + (listChanged ? sendAll : compare))
                                .copied;
            if (listChanged) {
                record.setSent(list, digests.value(list));
                record.write();
            }
        } else {
            // A signature left from a signed release would vouch for old checksums only.
            summary.deleted += rclone.run({QStringLiteral("delete"), options.remote, QStringLiteral("--include"), '/' + list})
                                   .deleted;
            record.setSent(list, {});
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
