#include "store/ChunkIndexes.h"

#include "chunk/ChunkStore.h"
#include "site/Sums.h"
#include "site/UpdateList.h"
#include "trust/Sha256.h"

#include <QFile>
#include <QSet>

QList<ListedIndex> listedIndexes(const UpdateListEntries& list, const Sums& sums)
{
    QList<ListedIndex> indexes;
    QSet<QString> seen;
    for (const UpdateEntry& entry : list.entries) {
        const std::optional<QByteArray> fileHash = sums.digest(entry.listed);
        if (!fileHash)
            continue;
        const QString name = ChunkStore::indexName(*fileHash);
        const std::optional<QByteArray> hash = sums.digest(name.toLatin1());
        if (hash && !seen.contains(name)) {
            seen.insert(name);
            indexes.append({name, *hash, *fileHash, entry.size});
        }
    }
    return indexes;
}

Result<ReadIndex> readChunkIndex(const QString& path, const QByteArray& fileHash, qint64 fileSize,
                                 const std::optional<QByteArray>& expectedHash)
{
    const auto fail = [](const QString& why) { return Result<ReadIndex>::failure(why); };
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return fail(file.exists() ? file.errorString() : QStringLiteral("missing"));
    const QByteArray bytes = file.readAll();
    ReadIndex read{{}, Sha256::hash(bytes)};
    if (expectedHash && read.hash != *expectedHash)
        return fail(QStringLiteral("does not match its checksum in update.sums"));
    Result<ChunkIndex> index = ChunkIndex::parse(bytes);
    if (!index)
        return fail(index.error());
    if (index->fileHash != fileHash)
        return fail(QStringLiteral("describes another file (SHA-256 %1)").arg(QLatin1StringView(index->fileHash.toHex())));
    if (index->fileSize != fileSize)
        return fail(QStringLiteral("describes %1 bytes, the list says %2").arg(index->fileSize).arg(fileSize));
    read.index = std::move(index).value();
    return read;
}
