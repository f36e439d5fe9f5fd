#pragma once
// One run per installation: renewel.lock in the program folder, held with an advisory lock on
// the open file for as long as the run lasts. The system releases that lock when its process
// ends in any way, so the lock of a crashed run (of any user) is taken over at once; the file
// itself means nothing without it. Opening never follows a link nor blocks on a pipe.

#include "platform/Result.h"

#include <QString>

class InstallationLock {
public:
    explicit InstallationLock(QString path) : path_(std::move(path)) {}
    // Releases the lock and removes the file.
    ~InstallationLock();
    InstallationLock(const InstallationLock&) = delete;
    InstallationLock& operator=(const InstallationLock&) = delete;

    // Fails with "another update is running on this installation", or with what is wrong
    // ("Read-only file system", "renewel.lock is a folder, not a lock file").
    Status acquire();

    static const QString Busy;

private:
    QString path_;
    int fd_ = -1;
};
