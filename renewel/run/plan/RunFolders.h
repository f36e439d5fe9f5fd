#pragma once
// The folders one run works in: the program folder, the installation that listed paths are
// appended to, and the download folder.

#include <QDir>
#include <QString>

struct RunFolders {
    QString program;      // ends with a separator
    QString installBase;  // the program folder without it
    QString download;     // "temp" inside the program folder (a check: a temporary folder)
    QString previous;     // "temp" inside the program folder, where earlier runs left downloads

    QString temp(const QString& name) const { return download + QDir::separator() + name; }
};
