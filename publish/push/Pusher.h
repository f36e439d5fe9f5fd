#pragma once
// Sends the site the tool published to its origin (any remote rclone knows: S3-compatible
// storage, SFTP, WebDAV) in an order that keeps every list a player may read usable:
//   1. the chunk store objects the release needs (chunks, then indexes, then deltas);
//   2. every other object of the site except the lists;
//   3. the lists, signature first and update.txt last;
//   4. objects that no site of the last keep + 1 pushes held, deleted (chunks and indexes no
//      release of those pushes needed among them).
// One listing of the remote says what it holds, so an emptied or replaced origin gets everything
// again whatever the push record says. An object is left alone when the remote holds it at its
// size and, unless it is a store object (named by its content), the record says these bytes were
// sent: a push with no change sends nothing but what the remote lacks. An object the remote
// holds under its name, which a live list may name, is never written in place: it is sent to a
// staging folder on the remote and moved over its name, so a player never reads half of it.
// Objects on the remote that no push of this site sent are left alone.

#include "common/ProgressMeter.h"
#include "push/PushOptions.h"
#include "push/PushRecord.h"
#include "push/RcloneTool.h"
#include "release/SiteLayout.h"
#include "store/StoreObjects.h"

#include <QByteArray>
#include <QHash>
#include <QSet>
#include <QString>
#include <QStringList>

class Pusher {
public:
    // Reads the site, asks rclone about the remote and takes the site's lock (no publish may
    // replace the release while it is sent). Throws PublishError: nothing published, no rclone,
    // a remote rclone does not know, or one that is the site itself.
    explicit Pusher(const PushOptions& options, ProgressMeter& progress = ProgressMeter::silent(), PushEvents events = {});

    // Sends the site; throws PublishError.
    PushSummary run();

    // The remote's folder that objects pass through on their way over a name the remote holds.
    static const QString StagingFolder;

private:
    static QString currentRelease(const SiteLayout& layout, const QString& siteDir);
    void checkRemote(const QString& localFolder) const;
    void planSends();
    bool inPlace(const QString& object, bool storeObject) const;
    qint64 localSize(const QString& object) const;
    void send(const QStringList& objects);
    void copyTo(const QStringList& objects, const QString& destination, bool report);
    void replace(const QStringList& objects);
    void sendLists();
    void deleteList(const QString& list);
    void deleteUnneeded();
    void clearStaging();
    void reportSent(const QString& object);
    void reportDeleted(const QString& object);

    const PushOptions options_;
    ProgressMeter& progress_;
    const PushEvents events_;
    SiteLayout layout_;
    QString release_;
    const RcloneTool rclone_;
    StoreObjects store_;
    PushRecord record_;
    QHash<QString, QByteArray> digests_;  // of every object the release holds
    QHash<QString, qint64> remote_;       // what the remote held when the push began, with sizes
    QStringList files_;                   // the release's objects but the lists and the store
    QSet<QString> pending_;               // what this push sends
    bool staged_ = false;
    PushSummary summary_;
};
