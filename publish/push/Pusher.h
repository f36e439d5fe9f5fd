#pragma once
// Sends the site the tool published to its origin (any remote rclone knows: S3-compatible
// storage, SFTP, WebDAV) in an order that keeps every list a player may read usable:
//   1. the chunk store objects the release needs and the push record says this remote lacks
//      (chunks, then indexes), sent unread and uncompared: they never change under their names;
//   2. every other object of the site except the lists: those whose SHA-256 differs from what
//      the push record says this remote was sent are sent whatever their size and time; the
//      others are left to rclone's comparison (which still catches changes made on the remote);
//   3. the lists, signature first and update.txt last;
//   4. objects that no site of the last keep + 1 pushes held, deleted (chunks and indexes no
//      release of those pushes needed among them).
// Objects on the remote that no push of this site sent are left alone.


#include "push/PushOptions.h"
#include "push/PushRecord.h"
#include "push/RcloneTool.h"
#include "release/SiteLayout.h"
#include "store/StoreObjects.h"

#include <QByteArray>
#include <QHash>
#include <QString>
#include <QStringList>

class Pusher {
public:
    // Reads the site, asks rclone about the remote and takes the site's lock (no publish may
    // replace the release while it is sent). Throws PublishError: nothing published, no rclone,
    // a remote rclone does not know, or one that is the site itself.
    explicit Pusher(const PushOptions& options);

    // Sends the site; throws PublishError.
    PushSummary run();

private:
    static QString currentRelease(const SiteLayout& layout, const QString& siteDir);
    void checkRemote(const QString& localFolder) const;
    void planSends();
    void copy(const QStringList& batch, const QStringList& flags);
    void sendStore();
    void sendFiles();
    void sendLists();
    void sendList(const QString& list);
    void deleteList(const QString& list);
    void deleteUnneeded();

    const PushOptions options_;
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
