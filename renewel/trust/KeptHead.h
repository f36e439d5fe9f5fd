#pragma once
// renewel.head in the program folder: the site's update.head of the release last installed in
// full, after a line with the validator (ETag or Last-Modified) it came with, so that the next
// run asks the site only for a head that changed. It is removed before a run installs anything
// else, so it never names a release that is only partly installed.

#include "Result.h"

#include <QByteArray>
#include <QString>

#include <optional>

struct KeptHead {
    QByteArray validator;  // one line; empty when the server sent none
    QByteArray file;       // update.head as it arrived

    // Nothing when there is none, or it can't be read.
    static std::optional<KeptHead> read(const QString& programFolder);
    // Replaces the file atomically.
    Status write(const QString& programFolder) const;
    static void forget(const QString& programFolder);
};
