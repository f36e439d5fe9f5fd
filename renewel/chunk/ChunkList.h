#pragma once
// The chunk list renewel keeps for an installed file, so that its chunks are found again without
// reading the file: the sizes it was cut with and, per chunk, the SHA-256 and length. Binary,
// little-endian, 36 bytes a chunk:
//   8 bytes   "IVCHLST1"
//   3 x u32   chunk sizes: minimum, average, maximum
//   u64       the file's size
//   32 bytes  the file's SHA-256
//   u32       chunk count
//   per chunk 32 bytes SHA-256, u32 length
// A chunk index says the same of the file it describes, so a file built from an index (or
// fetched whole while its index was at hand) has that index's list.

#include "chunk/ChunkIndex.h"
#include "chunk/FileChunks.h"

struct ChunkList {
    ChunkParams params;
    FileChunks file;

    static ChunkList fromIndex(const ChunkIndex& index);
    // The reason when the bytes are not a well-formed list.
    static Result<ChunkList> parse(QByteArrayView bytes);
    QByteArray serialize() const;
};
