#include "release/OtherFiles.h"

#include "common/PublishError.h"
#include "chunk/ChunkStore.h"
#include "site/ListedPath.h"
#include "site/SiteFiles.h"
#include "site/UpdateList.h"

#include <QFile>
#include <QSet>

#include <filesystem>
#include <system_error>

namespace fs = std::filesystem;

namespace {

// The folded keys of the paths the current list names.
QSet<QString> listedPaths(const QString& current)
{
    QSet<QString> paths;
    QFile list(current + '/' + SiteFile::List);
    if (!list.open(QIODevice::ReadOnly))
        return paths;
    const QList<QByteArray> lines = ReadUpdateListLines(list.readAll());
    for (qsizetype i = 0; i < lines.size(); i += 2)
        paths.insert(ListedPath::foldedKey(lines[i]));
    return paths;
}

// Every folder above a path: "a/b/c" gives "a" and "a/b".
QList<QByteArray> foldersAbove(const QByteArray& path)
{
    QList<QByteArray> folders;
    for (qsizetype slash = path.indexOf('/'); slash >= 0; slash = path.indexOf('/', slash + 1))
        folders.append(path.left(slash));
    return folders;
}

}  // namespace

QList<QByteArray> otherSiteFiles(const QString& current, const QList<ReleaseFile>& release)
{
    QList<QByteArray> others;
    if (current.isEmpty())
        return others;
    QSet<QByteArray> files{SiteFile::List.toUtf8(), SiteFile::Sums.toUtf8(), SiteFile::Signature.toUtf8(),
                           SiteFile::Head.toUtf8(), SiteFile::compressed(SiteFile::List).toUtf8(),
                           SiteFile::compressed(SiteFile::Sums).toUtf8()};
    QSet<QByteArray> folders;
    for (const ReleaseFile& file : release) {
        const QByteArray path = file.relative.toUtf8();
        files.insert(path);
        for (const QByteArray& folder : foldersAbove(path))
            folders.insert(folder);
    }
    const QSet<QString> listed = listedPaths(current);

    const QByteArray root = QFile::encodeName(current);
    std::error_code error;
    fs::recursive_directory_iterator it(root.toStdString(), error);
    for (; !error && it != fs::recursive_directory_iterator(); it.increment(error)) {
        const QByteArray path = QByteArray::fromStdString(it->path().native()).mid(root.size() + 1);
        if (it->is_directory(error) && !it->is_symlink(error))
            continue;
        // The release's link to the chunk store is made anew for each release.
        if (path == ChunkStore::Folder.toUtf8() && it->is_symlink(error))
            continue;
        const QString key = ListedPath::foldedKey(ListedPath::fromRelative(QString::fromUtf8(path)));
        if (files.contains(path) || listed.contains(key))
            continue;
        if (folders.contains(path))
            throw PublishError{QFile::encodeName(current) + '/' + path,
                               QStringLiteral("a file is in the way of the folder")};
        for (const QByteArray& folder : foldersAbove(path)) {
            if (files.contains(folder))
                throw PublishError{QFile::encodeName(current) + '/' + folder,
                                   QStringLiteral("a folder is in the way of the file")};
        }
        others.append(path);
    }
    if (error)
        throw PublishError{current, QStringLiteral("cannot read the site: ") + QString::fromLocal8Bit(error.message())};
    return others;
}
