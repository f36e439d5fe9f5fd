#pragma once
// Names in a folder, as entries rather than files: what kind an entry is (never following a
// link), renaming, exchanging, links, and removing whole trees. Reasons are the system's.

#include "platform/FileIO.h"
#include "platform/Result.h"

#include <QString>

namespace platform {

enum class EntryKind { Missing, Folder, Link, Other };

// What path itself is; a link is not followed.
Result<EntryKind> entryKind(const QString& path);
// The text a symbolic link holds.
Result<QString> linkTarget(const QString& path);

// Makes one folder; a name that exists already is a failure.
Status makeFolder(const QString& path);
// Renames from to to, replacing a file (or an empty folder, or a link) there.
Status renameEntry(const QString& from, const QString& to);
// Swaps the entries at a and b in one step. False when the file system cannot (the caller
// renames in two steps instead).
Result<bool> exchangeEntries(const QString& a, const QString& b);
// Makes a symbolic link at link holding target.
Status makeSymbolicLink(const QString& target, const QString& link);
// Makes target a second name of the file source. False when the file system cannot link here
// (another file system, no hard links): the caller copies instead.
Result<bool> hardLink(const QString& source, const QString& target);
// Removes path and, for a folder, everything in it, never following a link; a missing path is
// success.
Status removeTree(const QString& path);

// Takes an exclusive lock on the open file without waiting. False when another process holds
// it; the lock ends when the file is closed.
Result<bool> tryLockFile(NativeFile file);

}  // namespace platform
