#include "push/Pusher.h"

#include "common/PublishError.h"
#include "push/SiteObjects.h"
#include "release/PathNesting.h"
#include "site/SiteFiles.h"

#include <QFileInfo>
#include <QJsonObject>
#include <QTemporaryFile>

#include <memory>
#include <optional>

namespace {

// Signature first, the head last: a player reads the head first, then update.txt, so once
// either is new the files that vouch for it are there. Each compressed copy goes before its list.
const QStringList ListsInOrder = {SiteFile::Signature, SiteFile::compressed(SiteFile::Sums), SiteFile::Sums,
                                  SiteFile::compressed(SiteFile::List), SiteFile::List, SiteFile::Head};

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

}  // namespace

const QString Pusher::StagingFolder = QStringLiteral(".renewel-publish-staging");

Pusher::Pusher(const PushOptions& options, ProgressMeter& progress, PushEvents events)
    : options_(options), progress_(progress), events_(std::move(events)), layout_(options.siteDir),
      release_(currentRelease(layout_, options.siteDir))
{
    checkRemote(RcloneTool::localFolder(rclone_.features(options.remote)));
    layout_.prepare();  // no publish may replace the release while it is sent
}

PushSummary Pusher::run()
{
    planSends();
    {
        qint64 bytes = 0;
        for (const QString& object : std::as_const(pending_))
            bytes += localSize(object);
        ProgressMeter::Phase phase(progress_, int(pending_.size()), bytes);
        for (const QStringList* group :
             {&store_.chunks, &store_.packs, &store_.indexes, &store_.deltas, &store_.patches, &files_})
            send(*group);
        sendLists();
    }
    deleteUnneeded();
    clearStaging();
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

// What to send is settled before anything is: the record forgets the bytes of each object to be
// sent until it is, so an interrupted push sends them again.
void Pusher::planSends()
{
    const QStringList objects = objectsOf(release_);
    store_ = storeObjectsOf(release_);
    record_ = PushRecord::read(layout_.releases(), options_.remote);
    for (const QStringList* held : {&objects, &std::as_const(store_.chunks), &std::as_const(store_.indexes),
                                    &std::as_const(store_.deltas), &std::as_const(store_.patches),
                                    &std::as_const(store_.packs)})
        record_.hold(*held);
    digests_ = digestsOf(release_, objects);
    digests_.insert(store_.digests);
    remote_ = rclone_.list(options_.remote);
    for (const QString& object : objects) {
        if (!ListsInOrder.contains(object))
            files_.append(object);
    }
    const auto plan = [&](const QStringList& group, bool storeObjects) {
        for (const QString& object : group) {
            if (!inPlace(object, storeObjects)) {
                pending_.insert(object);
                record_.setSent(object, {});
            }
        }
    };
    for (const QStringList* group : {&store_.chunks, &store_.packs, &store_.indexes, &store_.deltas, &store_.patches})
        plan(*group, true);
    plan(files_, false);
    QStringList lists;
    for (const QString& list : ListsInOrder) {
        if (objects.contains(list))
            lists.append(list);
    }
    plan(lists, false);
    record_.write();
}

// The remote holds the object's bytes: at their size, and for an object not named by its content,
// sent by a push as these bytes.
bool Pusher::inPlace(const QString& object, bool storeObject) const
{
    const auto held = remote_.constFind(object);
    if (held == remote_.cend() || *held != localSize(object))
        return false;
    return storeObject || record_.sentDigest(object) == digests_.value(object);
}

qint64 Pusher::localSize(const QString& object) const { return QFileInfo(release_ + '/' + object).size(); }

// The objects of one group that need sending: those the remote lacks straight to their names,
// the others over their names.
void Pusher::send(const QStringList& objects)
{
    QStringList fresh, held;
    for (const QString& object : objects) {
        if (pending_.contains(object))
            (remote_.contains(object) ? held : fresh).append(object);
    }
    copyTo(fresh, options_.remote, true);
    replace(held);
    for (const QStringList* sent : {&fresh, &held}) {
        for (const QString& object : *sent)
            record_.setSent(object, digests_.value(object));
    }
    if (!fresh.isEmpty() || !held.isEmpty())
        record_.write();
}

void Pusher::copyTo(const QStringList& objects, const QString& destination, bool report)
{
    if (objects.isEmpty())
        return;
    const auto names = nameFile(objects);
    rclone_.run({QStringLiteral("copy"), release_, destination, QStringLiteral("--copy-links"),
                 QStringLiteral("--no-check-dest"), QStringLiteral("--files-from-raw"), names->fileName()},
                [&](const RcloneEvent& event) {
                    if (event.kind != RcloneEvent::Kind::Copied)
                        return;
                    if (report)
                        reportSent(event.object);
                    progress_.advance(localSize(event.object));
                });
}

// Sent whole to the staging folder, then each moved over its name in one step of the remote.
void Pusher::replace(const QStringList& objects)
{
    if (objects.isEmpty())
        return;
    staged_ = true;
    const QString staging = joined(options_.remote, StagingFolder);
    copyTo(objects, staging, false);
    for (const QString& object : objects) {
        // Moved whatever the remote's sizes and times say: a change that keeps both would be taken
        // for no change, and the staged copy dropped.
        rclone_.run({QStringLiteral("moveto"), joined(staging, object), joined(options_.remote, object),
                     QStringLiteral("--ignore-times")});
        reportSent(object);
    }
}

void Pusher::reportSent(const QString& object)
{
    summary_.sent.append(object);
    if (events_.sent)
        events_.sent(object);
}

void Pusher::sendLists()
{
    for (const QString& list : ListsInOrder) {
        if (QFileInfo::exists(release_ + '/' + list))
            send({list});
        else
            deleteList(list);
    }
    record_.complete();
    record_.write();
}

// A signature left from a signed release would vouch for old checksums only.
void Pusher::deleteList(const QString& list)
{
    record_.setSent(list, {});
    if (!remote_.contains(list))
        return;
    rclone_.run({QStringLiteral("delete"), options_.remote, QStringLiteral("--include"), '/' + list},
                [&](const RcloneEvent& event) {
                    if (event.kind == RcloneEvent::Kind::Deleted)
                        reportDeleted(event.object);
                });
}

// The site's own objects were just marked as held by this push, so none of them is here.
void Pusher::deleteUnneeded()
{
    const QStringList unneeded = record_.unneeded(options_.keep);
    if (!unneeded.isEmpty()) {
        const auto names = nameFile(unneeded);
        rclone_.run({QStringLiteral("delete"), options_.remote, QStringLiteral("--files-from-raw"), names->fileName()},
                    [&](const RcloneEvent& event) {
                        if (event.kind == RcloneEvent::Kind::Deleted)
                            reportDeleted(event.object);
                    });
    }
    record_.forget(unneeded);
    record_.write();
}

void Pusher::reportDeleted(const QString& object)
{
    summary_.deleted.append(object);
    if (events_.deleted)
        events_.deleted(object);
}

// What a push left in the staging folder (this one's empty folders, an interrupted one's objects).
void Pusher::clearStaging()
{
    const QString prefix = StagingFolder + '/';
    bool leftovers = staged_;
    for (auto it = remote_.cbegin(); !leftovers && it != remote_.cend(); ++it)
        leftovers = it.key().startsWith(prefix);
    if (!leftovers)
        return;
    try {
        rclone_.run({QStringLiteral("purge"), joined(options_.remote, StagingFolder)});
    } catch (const PublishError&) {
        // Nothing a list names is there: a folder left over costs nothing.
    }
}
