#include "push/Push.h"

#include "common/PublishError.h"
#include "push/PushRecord.h"
#include "push/RcloneTool.h"
#include "release/PathNesting.h"
#include "release/SiteLayout.h"
#include "store/StoreObjects.h"
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
#include <QJsonObject>
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

void deleteObjects(const RcloneTool& rclone, const QString& remote, const QStringList& objects, PushSummary& summary)
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

// One push: the steps in the order that keeps every list a player may read usable.
class Pusher {
public:
    explicit Pusher(const PushOptions& options)
        : options_(options), layout_(options.siteDir), release_(currentRelease(layout_, options.siteDir))
    {
        const QJsonObject features = rclone_.features(options.remote);
        checkRemote(RcloneTool::localFolder(features));
        compare_ = RcloneTool::comparisonFlags(features);
        layout_.prepare();  // no publish may replace the release while it is sent
    }

    PushSummary run()
    {
        planSends();
        sendStore();
        sendFiles();
        sendLists();
        deleteUnneeded();
        return summary_;
    }

private:
    static QString currentRelease(const SiteLayout& layout, const QString& siteDir)
    {
        if (layout.current().isEmpty())
            throw PublishError{siteDir, QStringLiteral("nothing published to push")};
        return layout.current();
    }

    // A local remote that is the site, or lies in it or around it, would have rclone copy the
    // site onto itself and delete what it overwrote.
    void checkRemote(const QString& localFolder) const
    {
        if (localFolder.isEmpty())
            return;
        const QString remote = resolvedPath(localFolder);
        for (const QString& site : {layout_.site(), layout_.releases(), resolvedPath(layout_.site())}) {
            if (isInside(remote, site) || isInside(site, remote))
                throw PublishError{options_.remote, QStringLiteral("the remote is the site's own folder, inside it or "
                                                                   "around it (give the origin's remote)")};
        }
    }

    // What changed since the last push to this remote is sent whatever rclone's comparison says:
    // a change that keeps the size within the remote's time precision would pass it unseen. The
    // record forgets those objects' bytes until they are sent, so an interrupted push sends them
    // again. Objects the record has as sent are left to rclone, which still catches a change made
    // on the remote where it can.
    void planSends()
    {
        const QStringList objects = objectsOf(release_);
        store_ = storeObjectsOf(release_);
        record_ = PushRecord::read(layout_.releases(), options_.remote);
        for (const QStringList* held : {&objects, &std::as_const(store_.chunks), &std::as_const(store_.indexes), &std::as_const(store_.deltas)})
            record_.hold(*held);
        digests_ = digestsOf(release_, objects);
        for (const QString& object : objects) {
            if (ListsInOrder.contains(object))
                continue;
            if (record_.sentDigest(object) == digests_.value(object)) {
                same_.append(object);
            } else {
                changed_.append(object);
                record_.setSent(object, {});
            }
        }
        for (const QString& list : ListsInOrder) {
            if (record_.sentDigest(list) != digests_.value(list))
                record_.setSent(list, {});
        }
        record_.write();
    }

    void copy(const QStringList& batch, const QStringList& flags)
    {
        if (batch.isEmpty())
            return;
        const auto names = nameFile(batch);
        summary_.sent += rclone_.run(QStringList{QStringLiteral("copy"), release_, options_.remote,
                                                 QStringLiteral("--copy-links"), QStringLiteral("--files-from-raw"),
                                                 names->fileName()} + flags)
                             .copied;
    }

    // Store objects never change under their names: one the record has as sent is not compared
    // again, a new one is sent without looking at the remote; chunks before the indexes that name
    // them, the deltas to those indexes after them, all before the files and lists.
    void sendStore()
    {
        for (const QStringList* objects : {&store_.chunks, &store_.indexes, &store_.deltas}) {
            QStringList fresh;
            for (const QString& object : *objects) {
                if (record_.sentDigest(object) != store_.digests.value(object))
                    fresh.append(object);
            }
            copy(fresh, {QStringLiteral("--no-check-dest")});
            for (const QString& object : fresh)
                record_.setSent(object, store_.digests.value(object));
            record_.write();
        }
    }

    void sendFiles()
    {
        copy(changed_, SendAll);
        copy(same_, compare_);
        for (const QString& object : changed_)
            record_.setSent(object, digests_.value(object));
        record_.write();
    }

    void sendLists()
    {
        for (const QString& list : ListsInOrder) {
            if (QFileInfo::exists(release_ + '/' + list))
                sendList(list);
            else
                deleteList(list);
        }
        record_.complete();
        record_.write();
    }

    void sendList(const QString& list)
    {
        const bool listChanged = record_.sentDigest(list).isEmpty();
        summary_.sent += rclone_.run(QStringList{QStringLiteral("copyto"), release_ + '/' + list,
                                                 joined(options_.remote, list)} + (listChanged ? SendAll : compare_))
                             .copied;
        if (listChanged) {
            record_.setSent(list, digests_.value(list));
            record_.write();
        }
    }

    // A signature left from a signed release would vouch for old checksums only.
    void deleteList(const QString& list)
    {
        summary_.deleted += rclone_.run({QStringLiteral("delete"), options_.remote, QStringLiteral("--include"), '/' + list})
                                .deleted;
        record_.setSent(list, {});
    }

    // The site's own objects were just marked as held by this push, so none of them is here.
    void deleteUnneeded()
    {
        const QStringList unneeded = record_.unneeded(options_.keep);
        deleteObjects(rclone_, options_.remote, unneeded, summary_);
        record_.forget(unneeded);
        record_.write();
    }

    inline static const QStringList SendAll = {QStringLiteral("--ignore-times")};

    const PushOptions& options_;
    SiteLayout layout_;
    QString release_;
    const RcloneTool rclone_;
    StoreObjects store_;
    PushRecord record_;
    QHash<QString, QByteArray> digests_;
    QStringList changed_;
    QStringList same_;
    QStringList compare_;
    PushSummary summary_;
};

}  // namespace

PushSummary pushSite(const PushOptions& options) { return Pusher(options).run(); }
