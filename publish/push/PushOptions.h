#pragma once
// What a push is asked to do, what it tells as it goes, and what it did.

#include <QString>
#include <QStringList>

#include <functional>

struct PushOptions {
    QString siteDir;
    QString remote;  // an rclone remote and path, "origin:ironvale/updates"
    int keep = 1;    // earlier pushes whose objects stay
};

// Told of each object the moment it is in place on the remote, or gone from it.
struct PushEvents {
    std::function<void(const QString& object)> sent;
    std::function<void(const QString& object)> deleted;
};

struct PushSummary {
    QStringList sent;
    QStringList deleted;
};
