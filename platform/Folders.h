#pragma once
// Folders: making them with their missing parents, and making renames into them durable.

#include "platform/Result.h"

#include <QString>

namespace platform {

// Makes path and the folders above it that are missing; success when it is a folder already.
// The reason is the system's.
Status makeFolders(const QString& path);

// Flushes a folder's entries (files created or renamed into it) to disk; the system's reason when
// that fails (a folder that cannot be opened, a file system that cannot sync).
Status syncFolder(const QString& path);

// Flushes everything written to the file system that holds path (syncfs): one call makes many
// finished files durable.
Status syncFileSystem(const QString& path);

// The bytes an unprivileged user may still write on the file system that holds path; the
// system's reason when it can't be asked.
Result<qint64> freeSpace(const QString& path);
// Whether path itself (not what it points to) is a symbolic link.
bool isSymbolicLink(const QString& path);

}  // namespace platform
