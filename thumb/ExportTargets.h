#pragma once
// The outputs of one command-line run, checked before each is written so that no file is lost:
// an output may not be one of the maps being read (the same file under any name or link), and
// two different maps may not write the same output (folder mode, "a/same.ivm" and "b/same.ivm").

#include <QHash>
#include <QString>
#include <QStringList>

#include <sys/types.h>
#include <utility>

class ExportTargets {
public:
    // The maps of the run; those that exist are remembered by their file identity.
    explicit ExportTargets(const QStringList& maps);

    // Throws Exception when target may not be written for map: "The output %1 is one of the
    // input maps" or "The output %1 was already written for %2".
    void check(const QString& map, const QString& target) const;
    // Records that map's thumbnail was written to target.
    void written(const QString& map, const QString& target);

private:
    using FileId = std::pair<dev_t, ino_t>;
    static bool fileId(const QString& path, FileId& id);

    QList<FileId> maps_;
    QHash<QString, QString> writtenBy_;  // absolute target -> map
};
