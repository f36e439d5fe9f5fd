#pragma once
// The room an update needs on the installation's file system before anything is fetched: the
// whole new size of every changed file (each is staged in the download folder until the switch,
// less what of it is there already) and, where files are built from chunks, room for the largest
// of them once more (its chunks wait beside it until it is built).

#include "run/plan/PlannedEntry.h"

#include "Result.h"

#include <QList>
#include <QString>

#include <functional>

struct UpdateRoom {
    qint64 needed = 0;
    qint64 free = 0;

    struct Changed {
        const PlannedEntry* planned;
        QString staged;  // its name in the download folder
        bool rebuilt;    // built from chunks
    };
    // The room the changed files need, and what the file system holding folder has free.
    static Result<UpdateRoom> measure(const QList<Changed>& changed, const QString& folder);

    bool enough() const { return needed <= free; }
    // "needs 512 MB, 130 MB free"
    QString shortage() const;
    // "512 MB, 130 MB free"
    QByteArray figures() const;
};
