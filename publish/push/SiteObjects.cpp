#include "push/SiteObjects.h"

#include "common/PublishError.h"
#include "chunk/ChunkStore.h"
#include "site/SiteFiles.h"
#include "site/Sums.h"
#include "site/UpdateList.h"
#include "trust/Sha256.h"

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>

QStringList objectsOf(const QString& release)
{
    QStringList objects;
    const QDir root(release);
    for (const QFileInfo& entry : root.entryInfoList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot)) {
        if (entry.fileName() == ChunkStore::Folder && entry.isSymLink())
            continue;
        if (!entry.isDir()) {
            if (entry.isFile())
                objects.append(entry.fileName());
            continue;
        }
        QDirIterator it(entry.filePath(), QDir::Files | QDir::Hidden | QDir::NoDotAndDotDot,
                        QDirIterator::Subdirectories | QDirIterator::FollowSymlinks);
        while (it.hasNext())
            objects.append(root.relativeFilePath(it.next()));
    }
    return objects;
}

QHash<QString, QByteArray> digestsOf(const QString& release, const QStringList& objects)
{
    QHash<QString, QByteArray> digests;
    QFile listFile(release + '/' + SiteFile::List);
    QFile sumsFile(release + '/' + SiteFile::Sums);
    if (listFile.open(QIODevice::ReadOnly) && sumsFile.open(QIODevice::ReadOnly)) {
        if (const Result<Sums> sums = Sums::parse(sumsFile.readAll())) {
            const QDir root(release);
            for (const UpdateEntry& entry : UpdateListEntries::parse(listFile.readAll()).entries) {
                if (const std::optional<QByteArray> digest = sums->digest(entry.listed); digest && entry.path.isSafe())
                    digests.insert(root.relativeFilePath(entry.path.installPath(release)), *digest);
            }
        }
    }
    QHash<QString, QByteArray> result;
    for (const QString& object : objects) {
        if (const auto listed = digests.constFind(object); listed != digests.cend()) {
            result.insert(object, *listed);
            continue;
        }
        const Result<QByteArray> digest = sha256OfFile(release + '/' + object);
        if (!digest)
            throw PublishError{release + '/' + object, digest.error()};
        result.insert(object, *digest);
    }
    return result;
}
