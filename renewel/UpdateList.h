#pragma once
// The update list "update.txt": a first line that is ignored, then pairs of data lines, a path
// ("\folder\file") and a decimal size, taken exactly as written (no trimming, empty lines kept).
// The line rules are those of LineReader.

#include <QByteArray>
#include <QList>
#include <QString>

// Reads the data lines: path, size, path, size, ... Lines are read in pairs while the file has
// not ended, so an odd last path gets an empty size line. Throws EInOutError when the file
// can't be opened or read.
void ReadUpdateList(const QString& fileName, QList<QByteArray>& list);
