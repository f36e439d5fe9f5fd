#pragma once
// The files of a release folder as an update list names them: every regular file below the
// folder, with its listed path ("\maps\coast\harbour.ivm"), sorted by path component by component
// (byte order). A path that the updater would refuse stops the scan before anything is written.

#include "platform/FileIdentity.h"

#include <QByteArray>
#include <QList>
#include <QString>

struct ReleaseFile {
    QString source;     // the file in the release folder
    QString relative;   // its path below the release folder, "/" separated
    QByteArray listed;  // "\" + the path with backslashes, as update.txt writes it
    FileIdentity identity;  // as the scan found it
};

// Throws PublishError naming the first file that can't be published: a path the updater refuses,
// a name that is not valid UTF-8, a name holding a backslash, a name reserved by the site or the
// updater (IsReservedListedPath), two paths that differ only in letter case (one file on
// Windows), a symbolic link or another file that is not a regular file, a folder that can't be
// read.
QList<ReleaseFile> scanRelease(const QString& releaseDir);
