#pragma once
// The journal of one release switch, "switch.journal" in the download folder: every staged file
// and the installed path it is renamed to, the folders the switch makes, the dropped files it
// deletes and the stamp it writes. It is on disk (flushed, under its name by one rename) before
// the first installed file changes, and removed only once the switch and the installed-state
// record are done, so a run cut off in between is finished by the next one from it.

#include "Result.h"

#include <QByteArray>
#include <QList>
#include <QString>

#include <optional>

struct SwitchJournal {
    struct Move {
        QByteArray listed;
        QByteArray digest;  // SHA-256 of the staged content
        QString staged;
        QString target;
    };

    QList<Move> moves;
    QList<QByteArray> made;     // folders the switch makes, as listed paths
    QList<QByteArray> dropped;  // listed paths of files to delete
    std::optional<qint64> stamp;

    static QString path(const QString& downloadFolder);
    // Written beside, flushed, then renamed to its name: it exists whole or not at all.
    Status write(const QString& downloadFolder) const;
    // The journal left in the folder; nothing when there is none; a failure when one is there but
    // can't be read or is damaged (then it is not acted on).
    static Result<std::optional<SwitchJournal>> read(const QString& downloadFolder);
    static void remove(const QString& downloadFolder);
};
