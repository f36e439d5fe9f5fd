#include "release/FolderCache.h"

#include "common/PublishError.h"

#include <QString>

#include <filesystem>
#include <system_error>

void FolderCache::makeParentOf(const QByteArray& path)
{
    const qsizetype slash = path.lastIndexOf('/');
    if (slash <= 0)
        return;
    const QByteArray folder = path.left(slash);
    if (made_.contains(folder))
        return;
    std::error_code error;
    std::filesystem::create_directories(folder.toStdString(), error);
    if (error)
        throw PublishError{folder, QString::fromLocal8Bit(error.message())};
    made_.insert(folder);
}
