#pragma once
// The file operations of publishing, each failing with a PublishError that carries the system's
// reason ("No space left on device", "Permission denied").

#include "platform/FileIdentity.h"

#include <QByteArray>
#include <QString>

// Creates target (a new file, in a folder that exists) with source's bytes and returns the
// SHA-256 of exactly the bytes written; size receives their count. Fails when source is not a
// regular file, or not the file scanned (its device and inode): a folder on its path replaced by
// a link since the scan would otherwise have another file published.
QByteArray copyHashed(const QString& source, const FileIdentity& scanned, const QString& target, qint64& size);
// Makes target (in a folder that exists) another name of source (a hard link), or a copy where the
// file system has none. The paths are the file system's bytes, which need not be UTF-8.
void linkOrCopy(const QByteArray& source, const QByteArray& target);
// Creates path (a new file) holding bytes.
void writeNewFile(const QString& path, const QByteArray& bytes);
// Removes path and, when it is a folder, everything below it, never following a link. Entries
// are removed by their folder's descriptor and the type readdir gives, so a release of 20,000
// files costs one unlink each and no lookups. Throws PublishError with the first failure.
void removeTree(const QString& path);
