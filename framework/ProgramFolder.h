#pragma once
// Folder and path helpers shared by both programs.

#include <QString>

// The folder of the running executable, ending with the native separator.
QString ProgramFolder();

// The one place where a path taken from a file (update list, dialog) becomes a native path:
// backslashes become the platform's separator.
QString toNativePath(const QString& path);
