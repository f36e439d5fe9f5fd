#include "ExportTargets.h"

#include "Exception.h"
#include "FileName.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <sys/stat.h>

ExportTargets::ExportTargets(const QStringList& maps)
{
    for (const QString& map : maps) {
        FileId id;
        if (fileId(map, id))
            maps_ << id;
    }
}

bool ExportTargets::fileId(const QString& path, FileId& id)
{
    struct stat status {};
    if (::stat(fileNameBytes(path).constData(), &status) != 0)
        return false;
    id = {status.st_dev, status.st_ino};
    return true;
}

void ExportTargets::check(const QString& map, const QString& target) const
{
    FileId id;
    if (fileId(target, id) && maps_.contains(id))
        throw Exception(QStringLiteral("The output %1 is one of the input maps").arg(QDir::toNativeSeparators(target)));
    const auto earlier = writtenBy_.constFind(QFileInfo(target).absoluteFilePath());
    if (earlier == writtenBy_.cend())
        return;
    // The same map named twice writes the same picture again; nothing is lost.
    FileId earlierMap;
    FileId thisMap;
    if (fileId(*earlier, earlierMap) && fileId(map, thisMap) && earlierMap == thisMap)
        return;
    throw Exception(QStringLiteral("The output %1 was already written for %2")
                        .arg(QDir::toNativeSeparators(target), QDir::toNativeSeparators(*earlier)));
}

void ExportTargets::written(const QString& map, const QString& target)
{
    writtenBy_.insert(QFileInfo(target).absoluteFilePath(), map);
}
