#pragma once
// The update run behind the Update button (IVButton1Click): fetches "update.txt" from the update
// site, compares every listed file with the installed copy by size, downloads each differing file
// into the download folder "temp", installs it over the installed file and cleans up. It asks the
// application to end when it is done or stops after a failure; errors meant for the general error
// report are thrown as Exception.

#include "ProgramFolder.h"

#include <QByteArray>
#include <QList>
#include <QString>

class UpdateHost;

class TUpdateRun {
public:
    // programFolder: the installation's folder, ending with a separator (tests pass a
    // temporary folder).
    explicit TUpdateRun(UpdateHost& host, QString programFolder = ProgramFolder());

    // One run. A call made while a run is in progress (a second click, or a timer tick inside
    // one of the run's message waits) returns at once and starts nothing.
    void UpdateRun();
    bool Running() const { return running_; }

    // The data lines of the last update list read: path, size, path, size, ...
    QList<QByteArray> UpdateList;

private:
    void stopAfterFailure();

    UpdateHost& host_;
    QString programFolder_;
    bool running_ = false;
};

// The size in bytes of the file, or 0 when it doesn't exist or can't be opened for reading and
// writing (read-only, in use). The file is opened and closed; nothing is read.
qint64 LocalFileSize(const QString& path);

// Makes sure a folder exists, creating missing parents; true when it exists afterwards. One
// trailing separator is dropped; texts shorter than 3 characters count as present.
bool EnsureFolder(const QString& folder);

// The path without its last character when that is a backslash; otherwise unchanged.
QString StripTrailingBackslash(const QString& path);

// The program folder without its final separator; listed paths are appended to it.
QString InstallBase(const QString& programFolder = ProgramFolder());

// The download folder "temp" inside the program folder.
QString DownloadFolder(const QString& programFolder = ProgramFolder());
