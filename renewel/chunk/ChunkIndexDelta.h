#pragma once
// A delta between two chunk indexes: it turns the index of a file's previous content into the
// index of its new content, so that a small change to a big file costs a few entries rather than
// the whole index. The site holds it as ChunkStore::deltaName(new, old), unlisted and unsigned:
// the index rebuilt from it is believed only when its bytes have the SHA-256 update.sums lists for
// the new index. Binary, little-endian:
//   8 bytes   "IVCHDLT1"
//   32 bytes  SHA-256 of the old index's bytes
//   the new index's header: 3 x u32 chunk sizes, u64 file size, 32 bytes file SHA-256,
//             u32 chunk count
//   then operations until the end:
//     'C', u32 first, u32 count          count entries of the old index from first
//     'N', u32 count, count x 40 bytes   new entries, as the index holds them
// The operations' counts add up to the chunk count; nothing follows the last.

#include "chunk/ChunkIndex.h"

#include <QByteArray>
#include <QByteArrayView>

#include <optional>

QByteArray makeDelta(const ChunkIndex& from, QByteArrayView fromBytes, const ChunkIndex& to);
// The new index, or the reason the delta does not apply to the old one (fromBytes, which from
// was parsed from) or is not well-formed. fileSize, when known (the size the signed list gives
// the file), bounds the rebuilding: a delta for a file of another size, or for more chunks than a
// file of that size is cut into, is refused before anything is expanded.
Result<ChunkIndex> applyDelta(const ChunkIndex& from, QByteArrayView fromBytes, QByteArrayView delta,
                              std::optional<qint64> fileSize = std::nullopt);
