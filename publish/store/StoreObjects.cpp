#include "store/StoreObjects.h"

#include "common/SiteFileReading.h"
#include "store/ChunkIndexes.h"
#include "common/PublishError.h"
#include "chunk/ChunkStore.h"
#include "site/SiteFiles.h"
#include "site/Sums.h"
#include "site/UpdateList.h"

#include "trust/Sha256.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

namespace {
// The patches update.sums lists, with their digests.
QStringList listedPatches(const Sums& sums, QHash<QString, QByteArray>& digests)
{
    QStringList patches;
    for (const QByteArray& name : sums.names()) {
        if (name.startsWith("chunks/patches/")) {
            patches.append(QString::fromLatin1(name));
            digests.insert(patches.last(), *sums.digest(name));
        }
    }
    return patches;
}
}  // namespace

StoreObjects storeObjectsOf(const QString& release)
{
    StoreObjects store;
    QFile listFile(release + '/' + SiteFile::List);
    QFile sumsFile(release + '/' + SiteFile::Sums);
    if (!listFile.open(QIODevice::ReadOnly) || !sumsFile.open(QIODevice::ReadOnly))
        return store;
    const Result<Sums> sums = Sums::parse(sumsFile.readAll());
    if (!sums)
        return store;
    store.patches = listedPatches(*sums, store.digests);
    for (const ListedIndex& listed : listedIndexes(UpdateListEntries::parse(listFile.readAll()), *sums)) {
        const QString path = release + '/' + listed.name;
        const Result<ReadIndex> read = readChunkIndex(path, listed.fileHash, listed.fileSize, listed.hash);
        if (!read)
            throw PublishError{path, read.error()};
        store.indexes.append(listed.name);
        store.digests.insert(listed.name, listed.hash);
        const QString indexFolder = release + '/' + ChunkStore::Folder + QStringLiteral("/index");
        const QString deltas = QString::fromLatin1(listed.fileHash.toHex()) + QStringLiteral(".from-*.cidd");
        for (const QString& delta : QDir(indexFolder).entryList({deltas}, QDir::Files)) {
            const Result<QByteArray> bytes = readSiteFile(indexFolder + '/' + delta, SiteFileLimit);
            if (!bytes)
                throw PublishError{indexFolder + '/' + delta, bytes.error()};
            const QString name = ChunkStore::Folder + QStringLiteral("/index/") + delta;
            store.deltas.append(name);
            store.digests.insert(name, Sha256::hash(*bytes));
        }
        if (const QString pack = ChunkStore::packName(listed.fileHash); QFileInfo::exists(release + '/' + pack)) {
            store.packs.append(pack);
            store.digests.insert(pack, listed.hash);
        }
        for (const ChunkIndexEntry& entry : read->index.chunks) {
            const QString name = ChunkStore::objectName(entry.hash);
            if (!store.digests.contains(name)) {
                store.chunks.append(name);
                store.digests.insert(name, entry.hash);
            }
        }
    }
    return store;
}
