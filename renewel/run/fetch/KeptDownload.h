#pragma once
// A complete download that an earlier run left in the download folder (it was cancelled, or
// stopped on another file, before installing this one) is taken as it is when it has the listed
// size and the SHA-256 update.sums names: the next run does not fetch it again. Without a
// checksum a size proves nothing, and the file is fetched. Hashing runs on threads of its own.

#include "run/fetch/BackgroundTasks.h"
#include "run/plan/PlannedEntry.h"

#include <QByteArray>
#include <QString>

#include <functional>

class KeptDownload {
public:
    // Whether file (the entry's download) may be the entry's whole content: a regular file of
    // the listed size, with a checksum to prove it.
    static bool worthChecking(const QString& file, const PlannedEntry& planned);

    // Hashes file; then(true) on this thread when it has the digest, then(false) otherwise.
    // Nothing is called once this object is gone.
    void check(const QString& file, const QByteArray& digest, std::function<void(bool)> then);

private:
    BackgroundTasks tasks_;
};
