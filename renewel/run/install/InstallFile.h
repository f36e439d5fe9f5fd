#pragma once
// Puts a downloaded file in place so that the installed file is always either the old or the
// new one, also when the process dies half-way (see replaceFile). Failures carry the system's
// reason ("Permission denied", "No space left on device").

#include "Result.h"

#include <QHash>
#include <QString>
#include <QStringList>

// Copies source over target.
Status InstallFile(const QString& source, const QString& target);

// Moves a file that is already on disk in full (written and flushed) over target by renaming it,
// keeping an existing target's permissions: the same guarantee without a copy. Fails (and the
// source stays where it was) when that can't be done, on another file system for one. The
// rename is made durable by SyncFolder on the target's folder, which may come later and once for
// many.
Status MoveInto(const QString& source, const QString& target);

// Removes what installs killed part-way left beside their targets: files named like the
// installer's own temporaries ("<name>.<16 hex digits>.tmp"). Each folder is read once.
class InstallLeftovers {
public:
    // Removes the leftovers of this one target.
    void removeFor(const QString& target);

private:
    // Per folder: the leftover temporaries found there, by the name of the file they were for.
    QHash<QString, QHash<QString, QStringList>> folders_;
};
