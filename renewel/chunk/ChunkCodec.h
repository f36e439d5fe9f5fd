#pragma once
// Chunks as the store holds them: one zstd frame each. Decompressing is bounded by the length
// the index declares, and a chunk is handed over only when it decompresses to exactly that
// length and its SHA-256 is the index's: a hostile chunk (not zstd, endless, bomb-sized, wrong
// content) is refused with a reason and never reaches a file.

#include "chunk/ChunkIndex.h"

#include <QByteArray>
#include <QByteArrayView>

struct ZSTD_CCtx_s;
struct ZSTD_DCtx_s;

class ChunkCompressor {
public:
    static constexpr int DefaultLevel = 3;

    explicit ChunkCompressor(int level = DefaultLevel);
    ~ChunkCompressor();
    ChunkCompressor(const ChunkCompressor&) = delete;
    ChunkCompressor& operator=(const ChunkCompressor&) = delete;

    // One zstd frame that records its content size.
    QByteArray compress(QByteArrayView chunk);

private:
    ZSTD_CCtx_s* ctx_;
    int level_;
};

class ChunkDecompressor {
public:
    ChunkDecompressor();
    ~ChunkDecompressor();
    ChunkDecompressor(const ChunkDecompressor&) = delete;
    ChunkDecompressor& operator=(const ChunkDecompressor&) = delete;

    // The chunk's bytes, or why the stored form is not the chunk the entry names: its size is not
    // the stored length, it is not one zstd frame (or is followed by more), it decompresses to
    // more or fewer bytes than the length, or its SHA-256 differs.
    Result<QByteArray> decompress(QByteArrayView stored, const ChunkIndexEntry& entry);

private:
    ZSTD_DCtx_s* ctx_;
};
