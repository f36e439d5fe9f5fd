#pragma once
// Puts a downloaded file in place so that the installed file is always either the old or the
// new one, also when the process dies half-way: the new content is written beside the target
// under a temporary name ("<target>.<random>.tmp"), flushed to disk, and renamed over the target.

#include <QString>

// Copies source over target; false (and no temporary file left behind) on any failure. An
// existing target keeps its permissions.
bool InstallFile(const QString& source, const QString& target);

// Moves a file that is already on disk in full (written and flushed) over target by renaming it,
// keeping an existing target's permissions: the same guarantee without a copy. False when that
// can't be done (another file system, for one); the source is then where it was. The rename is
// made durable by SyncFolder on the target's folder, which may come later and once for many.
bool MoveInto(const QString& source, const QString& target);

// Flushes a folder's entries (renames into it) to disk.
void SyncFolder(const QString& folder);

#include <QHash>
#include <QStringList>

// Removes what installs killed part-way left beside their targets: files named like
// InstallFile's own temporaries ("<name>.<16 hex digits>.tmp"). Each folder is read once.
class TInstallLeftovers {
public:
    // Removes the leftovers of this one target.
    void RemoveFor(const QString& target);

private:
    // Per folder: the leftover temporaries found there, by the name of the file they were for.
    QHash<QString, QHash<QString, QStringList>> folders_;
};
