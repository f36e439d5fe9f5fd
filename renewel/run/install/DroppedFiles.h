#pragma once
// The files a new release dropped: paths the previous list named and this one does not, whose
// installed file still has the hash renewel recorded for it (read again, on a thread of its own,
// to be sure): files the player made or changed are kept. Only a site with checksums (signed
// where a key is set) can drop files: a bare list might be anything a server answers.

#include "run/fetch/BackgroundTasks.h"

#include <QByteArray>
#include <QList>

#include <functional>

class InstalledState;
struct UpdateEntry;

class DroppedFiles {
public:
    using Found = std::function<void(QList<QByteArray> dropped)>;

    DroppedFiles(QString installBase, InstalledState& state) : installBase_(std::move(installBase)), state_(state) {}

    // The dropped files' listed paths, sorted, to found (later, on this thread).
    void find(const QList<UpdateEntry>& listedNow, Found found);
    // Deletes them once the new files are in place, and the folders renewel made for them once
    // they are empty; deleted gets each path deleted.
    void remove(const QList<QByteArray>& dropped, const std::function<void(const QByteArray&)>& deleted);

private:
    const QString installBase_;
    InstalledState& state_;
    BackgroundTasks tasks_;
};
