#pragma once
// File-system rules of the update run: where the installation and the download folder are, how
// installed files are measured, and which folders may be written to.

#include "Result.h"
#include "platform/FileIdentity.h"

#include <QString>

#include <optional>

// The identity of the regular file at path (a link is followed); nothing for anything else. The
// installed-state record keeps no change time, so the identities here carry none.
std::optional<FileIdentity> IdentityOf(const QString& path);

// The size in bytes of the file, or 0 when it doesn't exist or can't be opened for reading and
// writing (read-only, in use), or is not a regular file. The file is opened (never waiting on a
// pipe or device) and closed; nothing is read. identity, when given, receives what was measured.
qint64 LocalFileSize(const QString& path, FileIdentity* identity = nullptr);

// Makes sure a folder exists, creating missing parents; the system's reason when it can't. One
// trailing separator is dropped; texts shorter than 3 characters count as present.
Status EnsureFolder(const QString& folder);

// The path without its last character when that is a backslash; otherwise unchanged.
QString StripTrailingBackslash(const QString& path);

// The program folder without its final separator; listed paths are appended to it.
QString InstallBase(const QString& programFolder);

// The download folder "temp" inside the program folder.
QString DownloadFolder(const QString& programFolder);

// Whether a folder (existing or still to be made) lies inside the installation once symbolic
// links are followed: its nearest existing ancestor must resolve to a place inside installBase.
bool InsideInstallation(const QString& folder, const QString& installBase);

// The language file to read: "renewel.lng" in the current folder, else the one in the program
// folder (a launcher may start renewel from elsewhere); when neither exists, the current
// folder's, whose absence is then reported.
QString LanguageFilePath(const QString& programFolder);
