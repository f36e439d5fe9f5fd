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

#include <QString>
#include <QStringList>

struct PushOptions {
    QString siteDir;
    QString remote;  // an rclone remote and path, "origin:ironvale/updates"
    int keep = 1;    // earlier pushes whose objects stay
};

struct PushSummary {
    QStringList sent;
    QStringList deleted;
};

// Throws PublishError.
PushSummary pushSite(const PushOptions& options);
