#pragma once
// The executable bits of a site's files, carried in update.sums so that the signature covers them
// and no request is added. Beside a file's own line, a line with the same SHA-256 and the name
// "x:" followed by the listed path (as update.txt writes it) says the file is executable; one line
// named "x:" alone (with the SHA-256 of nothing) says that the site names its executable files,
// so a file without an "x:" line is not executable. Older readers look names up and never meet
// these, and `sha256sum --check --ignore-missing` skips them as files that are not there. A site
// without the "x:" line (published before) says nothing of modes.

#include "site/Sums.h"

#include <QByteArray>
#include <QList>

#include <optional>

class ExecutableMarks {
public:
    struct File {
        QByteArray digest;  // its SHA-256 (32 bytes)
        QByteArray listed;
    };

    // The update.sums lines that mark these files executable, the "x:" line first.
    static QByteArray lines(const QList<File>& executables);
    // What sums says of the file's bit: nothing when the site names no executable files.
    static std::optional<bool> executable(const Sums& sums, const QByteArray& listed);
};
