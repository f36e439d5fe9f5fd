#pragma once
// What a push is asked to do, and what it did.

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
