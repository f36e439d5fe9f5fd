#pragma once
// The places one run writes to besides the installed files: the installation lock, held while
// the run lasts, and the download folder "temp", made at the start and emptied by a completed
// run. A check holds no lock and writes no download folder.

#include "platform/InstallationLock.h"
#include "run/plan/RunFolders.h"

#include "Result.h"

#include <QByteArray>
#include <QSet>

#include <memory>

class RunReport;

class Workspace {
public:
    Workspace(const RunFolders& folders, bool checkOnly, bool quiet)
        : folders_(folders), checkOnly_(checkOnly), quiet_(quiet) {}

    // Only one run works on an installation at a time.
    Status claim(RunReport& report);
    bool claimed() const { return lock_ != nullptr; }
    // errorText: what the general error report shows when the folder can't be made (not quiet).
    Status makeDownloadFolder(RunReport& report, const QString& errorText);
    // A completed run leaves nothing in the download folder.
    void empty();
    // After a failed run, when the file system is full: the download folder keeps the staged
    // files (by name), the lists and the switch journal; partial downloads and chunks go.
    void dropPartialsWhenFull(const QSet<QString>& staged);
    // However the run ends: the small lists go, the folder goes when empty, the lock is released.
    void release();

private:
    const RunFolders& folders_;
    const bool checkOnly_;
    const bool quiet_;
    std::unique_ptr<InstallationLock> lock_;
};
