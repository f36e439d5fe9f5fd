#pragma once
// Where the window's open and save dialogs start. While the program's folder can be written
// they start where they always did (the current folder, which a successful open makes the
// program's folder, as on Windows). Installed, the program's folder belongs to the system and a
// save there fails, so they start in the folder of the last map opened, or else at home.

#include <QString>

// True when the current user may create files in folder.
bool isWritableFolder(const QString& folder);

// The start folder: empty for the dialogs' own default (the current folder) when the program's
// folder is writable; else lastMap's folder when a map was opened, else home.
QString dialogStartFolder(bool programFolderWritable, const QString& lastMap, const QString& home);
