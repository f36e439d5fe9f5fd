#include "store/ChunkIndexes.h"

#include "common/SiteFileReading.h"
#include "chunk/ChunkStore.h"
#include "site/Sums.h"
#include "site/UpdateList.h"
#include "trust/Sha256.h"

#include <QFile>

#include <algorithm>
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
    // 64 bytes of header and 40 a chunk, each chunk at least a byte of the file.
    const Result<QByteArray> read = readSiteFile(path, 64 + 40 * std::max<qint64>(fileSize, 1));
    if (!read)
        return fail(read.error());
    const QByteArray& bytes = *read;
    ReadIndex index{{}, Sha256::hash(bytes)};
    if (expectedHash && index.hash != *expectedHash)
        return fail(QStringLiteral("does not match its checksum in update.sums"));
    Result<ChunkIndex> parsed = ChunkIndex::parse(bytes);
    if (!parsed)
        return fail(parsed.error());
    if (parsed->fileHash != fileHash)
        return fail(QStringLiteral("describes another file (SHA-256 %1)").arg(QLatin1StringView(parsed->fileHash.toHex())));
    if (parsed->fileSize != fileSize)
        return fail(QStringLiteral("describes %1 bytes, the list says %2").arg(parsed->fileSize).arg(fileSize));
    index.index = std::move(parsed).value();
    return index;
}
