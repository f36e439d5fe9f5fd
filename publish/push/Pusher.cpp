#include "push/Pusher.h"

#include "common/PublishError.h"
#include "push/SiteObjects.h"
#include "release/PathNesting.h"
#include "site/SiteFiles.h"

#include <QFileInfo>
#include <QJsonObject>
#include <QTemporaryFile>

#include <memory>

namespace {

// Signature first, update.txt last: a player reads update.txt first, so once it is new the
// checksums and signature that vouch for it are there.
const QStringList ListsInOrder = {SiteFile::Signature, SiteFile::Sums, SiteFile::List};

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

const QStringList SendAll = {QStringLiteral("--ignore-times")};

}  // namespace

Pusher::Pusher(const PushOptions& options)
    : options_(options), layout_(options.siteDir), release_(currentRelease(layout_, options.siteDir))
{
    const QJsonObject features = rclone_.features(options.remote);
    checkRemote(RcloneTool::localFolder(features));
    compare_ = RcloneTool::comparisonFlags(features);
    layout_.prepare();  // no publish may replace the release while it is sent
}

PushSummary Pusher::run()
{
    planSends();
    sendStore();
    sendFiles();
    sendLists();
    deleteUnneeded();
    return summary_;
}

QString Pusher::currentRelease(const SiteLayout& layout, const QString& siteDir)
{
    if (layout.current().isEmpty())
        throw PublishError{siteDir, QStringLiteral("nothing published to push")};
    return layout.current();
}

// A local remote that is the site, or lies in it or around it, would have rclone copy the
// site onto itself and delete what it overwrote.
void Pusher::checkRemote(const QString& localFolder) const
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
void Pusher::planSends()
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

void Pusher::copy(const QStringList& batch, const QStringList& flags)
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
void Pusher::sendStore()
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

void Pusher::sendFiles()
{
    copy(changed_, SendAll);
    copy(same_, compare_);
    for (const QString& object : changed_)
        record_.setSent(object, digests_.value(object));
    record_.write();
}

void Pusher::sendLists()
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

void Pusher::sendList(const QString& list)
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
void Pusher::deleteList(const QString& list)
{
    summary_.deleted += rclone_.run({QStringLiteral("delete"), options_.remote, QStringLiteral("--include"), '/' + list})
                            .deleted;
    record_.setSent(list, {});
}

// The site's own objects were just marked as held by this push, so none of them is here.
void Pusher::deleteUnneeded()
{
    const QStringList unneeded = record_.unneeded(options_.keep);
    deleteObjects(rclone_, options_.remote, unneeded, summary_);
    record_.forget(unneeded);
    record_.write();
}
