#pragma once
// Replacing a file so that it is always either the old or the new one, also when the process
// dies half-way: the new content is written beside the target under a temporary name
// ("<target>.<16 hex digits>.tmp"), flushed to disk, and renamed over the target; the rename is
// then made durable. A link at the target is replaced, never written through. An existing
// target's permissions are kept (best effort). On failure the temporary file is removed and the
// target stays as it was; the reason is the system's.

#include "Result.h"

#include <QByteArray>
#include <QString>

#include <functional>

class QFile;

// write fills the open temporary file; it returns an empty text, or why it failed.
Status replaceFile(const QString& target, const std::function<QString(QFile&)>& write, bool durable = true);
Status replaceFile(const QString& target, const QByteArray& bytes, bool durable = true);

// Renames from over to (both on one file system), without following a link at to. The rename
// itself is durable only once SyncFolder has run on the folder of to.
Status renameOver(const QString& from, const QString& to);

// Flushes a folder's entries (renames into it) to disk.
void SyncFolder(const QString& folder);

// The name of a temporary file beside target, as replaceFile makes them.
bool IsTemporaryOf(const QString& name, QString* target = nullptr);
