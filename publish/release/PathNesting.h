#pragma once
// Whether one folder lies in another, as the file system resolves them: the checks that keep a
// release, the site and a push's destination apart.

#include <QString>

// The path with its links resolved when it exists, else made absolute and clean.
QString resolvedPath(const QString& path);
// Whether path is folder or lies below it (both resolved).
bool isInside(const QString& path, const QString& folder);
