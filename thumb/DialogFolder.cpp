#include "DialogFolder.h"

#include "FileName.h"

#include <QFileInfo>

#include <unistd.h>

bool isWritableFolder(const QString& folder)
{
    return ::access(fileNameBytes(folder).constData(), W_OK | X_OK) == 0;
}

QString dialogStartFolder(bool programFolderWritable, const QString& lastMap, const QString& home)
{
    if (programFolderWritable)
        return QString();
    return lastMap.isEmpty() ? home : QFileInfo(lastMap).absolutePath();
}
