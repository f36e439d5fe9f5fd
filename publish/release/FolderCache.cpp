#include "release/FolderCache.h"

#include "common/PublishError.h"
#include "platform/Folders.h"

#include <QFile>

void FolderCache::makeParentOf(const QByteArray& path)
{
    const qsizetype slash = path.lastIndexOf('/');
    if (slash <= 0)
        return;
    const QByteArray folder = path.left(slash);
    if (made_.contains(folder))
        return;
    if (const Status made = platform::makeFolders(QFile::decodeName(folder)); !made)
        throw PublishError{folder, made.error()};
    made_.insert(folder);
}
