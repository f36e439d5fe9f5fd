#pragma once
// The chunk indexes a published site lists: for each listed file whose SHA-256 D has a line
// "chunks/index/<D>.cidx" in update.sums, that index. A client believes an index only when its
// bytes have that line's SHA-256 and it describes exactly the listed file; publish, verify and
// push read indexes by the same rule.

#include "chunk/ChunkIndex.h"

#include <QByteArray>
#include <QList>
#include <QString>

#include <optional>

class Sums;
struct UpdateListEntries;

struct ListedIndex {
    QString name;          // ChunkStore::indexName, relative to the site
    QByteArray hash;       // its SHA-256 in update.sums
    QByteArray fileHash;   // the listed file's SHA-256
    qint64 fileSize = 0;   // the listed file's size
};

// Each index named once, in list order.
QList<ListedIndex> listedIndexes(const UpdateListEntries& list, const Sums& sums);

struct ReadIndex {
    ChunkIndex index;
    QByteArray hash;  // SHA-256 of its bytes
};

// The index at path when it is well-formed, has the expected SHA-256 (when one is given) and
// describes the file with that SHA-256 and size; the reason when not.
Result<ReadIndex> readChunkIndex(const QString& path, const QByteArray& fileHash, qint64 fileSize,
                                 const std::optional<QByteArray>& expectedHash = std::nullopt);
