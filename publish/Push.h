#pragma once
// Sends the site the tool published to its origin (any remote rclone knows: S3-compatible
// storage, SFTP, WebDAV) in an order that keeps every list a player may read usable:
//   1. every object of the site except the lists: those whose SHA-256 differs from what the push
//      record says this remote was sent are sent whatever their size and time; the others are
//      left to rclone's comparison (which still catches changes made on the remote);
//   2. the lists, signature first and update.txt last;
//   3. objects that no site of the last keep + 1 pushes held, deleted.
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
