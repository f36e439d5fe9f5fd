#pragma once
// The file operations of publishing, each failing with a PublishError that carries the system's
// reason ("No space left on device", "Permission denied").

#include <QByteArray>
#include <QString>

// Creates target (a new file) with source's bytes and returns the SHA-256 of exactly the bytes
// written; size receives their count.
QByteArray copyHashed(const QString& source, const QString& target, qint64& size);
// Makes target another name of source (a hard link), or a copy where the file system has none.
// The paths are the file system's bytes, which need not be UTF-8.
void linkOrCopy(const QByteArray& source, const QByteArray& target);
// Creates path (a new file) holding bytes.
void writeNewFile(const QString& path, const QByteArray& bytes);
// Creates a folder and the folders above it that are missing.
void makeFolders(const QString& path);
// Flushes the file system that holds path, so that what was written survives a power cut.
void syncFileSystem(const QString& path);
// The system's reason for errno, as the error lines give it.
QString errnoReason();
