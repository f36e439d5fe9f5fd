#pragma once
// The update list "update.txt": a first line that is ignored, then pairs of data lines, a path
// ("\folder\file") and a decimal size, taken exactly as written (no trimming, empty lines kept).
// The line rules are those of LineReader. renewel reads it, renewel-publish writes it.

#include "site/ListedPath.h"

#include <QByteArray>
#include <QList>
#include <QString>

// The data lines: path, size, path, size, ... Lines are read in pairs while the data has not
// ended, so an odd last path gets an empty size line. Throws EInOutError when a read fails.
QList<QByteArray> ReadUpdateListLines(const QByteArray& bytes);

// One file the list names.
struct UpdateEntry {
    QByteArray listed;  // the path line, as written
    ListedPath path;
    qint64 size = 0;
};

// Why a list's data lines are not a usable list.
struct ListProblem {
    // BadSize: a size line that is no integer; UnsafePath: a path that leaves the installation,
    // names one of the site's or renewel's own files, or names a file listed before (in any
    // letter case: one file on the game's own platform).
    enum Kind { None, BadSize, UnsafePath } kind = None;
    QString subject;  // the offending path (shortened) or the list
    QString reason;   // "'x' is not a valid integer value", "unsafe path in the update list", ...
};

// Every size line and every path checked, in list order; the first problem found stops it.
struct UpdateListEntries {
    QList<UpdateEntry> entries;
    ListProblem problem;

    static UpdateListEntries fromLines(const QList<QByteArray>& lines);
    static UpdateListEntries parse(const QByteArray& bytes) { return fromLines(ReadUpdateListLines(bytes)); }
};

// The file renewel-publish writes: the first line, then each path and size, CR LF after each.
QByteArray WriteUpdateList(const QByteArray& firstLine, const QList<UpdateEntry>& entries);
