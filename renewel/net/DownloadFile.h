#pragma once
// Files in the download folder: never followed through links and never blocking on a pipe. A
// link, pipe or device found where a download, its validator or a list is to be written is a
// leftover to remove, never data.

#include <QByteArray>
#include <QString>

// Opens path for reading and writing (keep: its bytes kept; otherwise it is created empty).
// Returns the descriptor, or -1 with the reason in why.
int OpenDownloadFile(const QString& path, bool keep, QString* why);

// The size of a regular file at path (a link is not followed); -1 when there is none.
qint64 DownloadFileSize(const QString& path);

// The first maxSize bytes of a regular file at path (a link is not followed); empty otherwise.
QByteArray ReadDownloadFile(const QString& path, qint64 maxSize);

// Replaces path with a new regular file holding bytes (best effort; false on failure).
bool WriteDownloadFile(const QString& path, const QByteArray& bytes);
