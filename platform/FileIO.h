#pragma once
// Reading and writing whole spans of an open file, an interrupted call (EINTR) resumed in one
// place. A native file is a descriptor here; a Windows part would give its handle the same name.

#include "platform/Result.h"

#include <QByteArray>

using NativeFile = int;

namespace platform {

// Reads until size bytes are in or the file ends; the count read, or -1 when a read fails
// (errno tells why).
qint64 readAll(NativeFile file, char* into, qint64 size);
// The same at offset, leaving the file position alone.
qint64 readAllAt(NativeFile file, char* into, qint64 size, qint64 offset);
// Writes every byte; false when a write fails or writes nothing (errno tells why).
bool writeAll(NativeFile file, const char* data, qint64 size);
inline bool writeAll(NativeFile file, const QByteArray& bytes) { return writeAll(file, bytes.constData(), bytes.size()); }
// The same at offset, leaving the file position alone.
bool writeAllAt(NativeFile file, const char* data, qint64 size, qint64 offset);
// Cuts the file to size bytes, or extends it with zeros; the system's reason when that fails.
Status resizeFile(NativeFile file, qint64 size);

// The size the open file has now; -1 when the system can't tell.
qint64 fileSize(NativeFile file);

// Flushes the file's data and metadata (fsync), or its data and what reading it back needs
// (fdatasync), to the disk; the system's reason when that fails.
Status syncFile(NativeFile file);
Status syncFileData(NativeFile file);
// Starts writing the file's dirty pages to disk without waiting for them (a hint; a no-op where
// the system has none), so that a later sync has less left to wait for.
void startWriteBack(NativeFile file);

}  // namespace platform
