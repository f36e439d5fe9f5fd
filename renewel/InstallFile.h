#pragma once
// Puts a downloaded file in place so that the installed file is always either the old or the
// new one, also when the process dies half-way: the new content is written beside the target
// under a temporary name ("<target>.<random>.tmp"), flushed to disk, and renamed over the target.

#include <QString>

// Copies source over target; false (and no temporary file left behind) on any failure. An
// existing target keeps its permissions.
bool InstallFile(const QString& source, const QString& target);
