// Content-defined chunking and the chunk codec: boundaries that follow the content, and chunks
// that are refused unless they decompress to exactly what the index names.

#include "ChunkTestData.h"
#include "TempDir.h"
#include "chunk/ChunkCodec.h"
#include "chunk/ContentChunker.h"
#include "chunk/FileChunks.h"
#include "trust/Sha256.h"

#include <QBuffer>
#include <QFile>

#include <gtest/gtest.h>

#include <fcntl.h>
#include <unistd.h>
#include <zstd.h>

namespace {

const ChunkParams Small = ChunkParams::forAverage(4096);

FileChunks chunksOf(QByteArray bytes, const ChunkParams& params = Small)
{
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::ReadOnly);
    Result<FileChunks> chunks = chunkDevice(buffer, params);
    EXPECT_TRUE(chunks) << chunks.error().toStdString();
    return chunks.value_or({});
}

QSet<QByteArray> hashes(const FileChunks& chunks)
{
    QSet<QByteArray> set;
    for (const FileChunk& chunk : chunks.chunks)
        set.insert(chunk.hash);
    return set;
}

TEST(Chunking, ChunksCoverTheStreamWithinTheSizesAndMatchTheFixedRule)
{
    const QByteArray content = testContent(3 * 1024 * 1024 + 17);
    const FileChunks chunks = chunksOf(content);
    qint64 next = 0;
    for (qsizetype i = 0; i < chunks.chunks.size(); ++i) {
        const FileChunk& chunk = chunks.chunks[i];
        ASSERT_EQ(chunk.offset, next);
        EXPECT_LE(chunk.length, Small.maximum);
        if (i + 1 < chunks.chunks.size()) {
            EXPECT_GE(chunk.length, Small.minimum);
        }
        EXPECT_EQ(chunk.hash, Sha256::hash(content.mid(chunk.offset, chunk.length)));
        next += chunk.length;
    }
    EXPECT_EQ(next, content.size());
    EXPECT_EQ(chunks.size, content.size());
    EXPECT_EQ(chunks.fileHash, Sha256::hash(content));
    const double average = double(content.size()) / chunks.chunks.size();
    EXPECT_GT(average, Small.average * 0.6);
    EXPECT_LT(average, Small.average * 1.6);

    // The boundaries of this content, once and for all: every platform and every later build
    // must cut a file where publishing cut it, or installed copies find no chunks.
    QByteArray offsets;
    for (const FileChunk& chunk : chunks.chunks)
        offsets += QByteArray::number(chunk.offset) + ' ';
    EXPECT_EQ(Sha256::hash(offsets).toHex().left(16), "c27cf6d4cae52df2");

    // A file read through its descriptor is cut the same way.
    TempDir dir;
    const int fd = ::open(QFile::encodeName(dir.write("f", content)).constData(), O_RDONLY);
    QList<qint64> viaFd;
    ASSERT_TRUE(forEachChunk(fd, Small, [&](qint64 offset, QByteArrayView) { return viaFd.append(offset), Status(); }));
    ::close(fd);
    ASSERT_EQ(viaFd.size(), chunks.chunks.size());
    EXPECT_EQ(viaFd.back(), chunks.chunks.back().offset);
}

TEST(Chunking, EditsChangeOnlyTheChunksAroundThem)
{
    const QByteArray original = testContent(4 * 1024 * 1024);
    const QSet<QByteArray> before = hashes(chunksOf(original));
    QByteArray edited = original;
    edited.insert(1000, QByteArray(16, 'x'));            // insertion near the start
    edited.remove(2 * 1024 * 1024, 3);                   // deletion in the middle
    edited.replace(3 * 1024 * 1024, 4096, QByteArray(4096, '\0'));  // overwrite
    const FileChunks after = chunksOf(edited);
    int changed = 0;
    for (const FileChunk& chunk : after.chunks)
        changed += before.contains(chunk.hash) ? 0 : 1;
    // Each edit touches one or two chunks, the overwrite of a chunk's length up to three.
    EXPECT_GE(changed, 3);
    EXPECT_LE(changed, 9) << "of " << after.chunks.size();
}

TEST(Chunking, SizesOutsideTheRulesAreRefused)
{
    const ChunkParams bad[] = {
        {32, 4096, 16384},           // minimum below 64
        {4096, 4096, 16384},         // minimum not below the average
        {1024, 3000, 16384},         // average not a power of two
        {1024, 4096, 4096},          // maximum not above the average
        {1024, 4096, MaxChunkLength + 1},
    };
    for (const ChunkParams& params : bad) {
        QByteArray bytes("abc");
        QBuffer buffer(&bytes);
        buffer.open(QIODevice::ReadOnly);
        EXPECT_FALSE(chunkDevice(buffer, params)) << params.minimum << "/" << params.average << "/" << params.maximum;
    }
    EXPECT_TRUE(ChunkParams::forAverage(64 * 1024).check());
    EXPECT_EQ(chunksOf("").chunks.size(), 0);
}

QByteArray zstdWith(QByteArrayView bytes, int windowLog, bool recordSize)
{
    ZSTD_CCtx* ctx = ZSTD_createCCtx();
    ZSTD_CCtx_setParameter(ctx, ZSTD_c_windowLog, windowLog);
    ZSTD_CCtx_setParameter(ctx, ZSTD_c_contentSizeFlag, recordSize ? 1 : 0);
    QByteArray out(qsizetype(ZSTD_compressBound(bytes.size())), Qt::Uninitialized);
    ZSTD_inBuffer in{bytes.data(), size_t(bytes.size()), 0};
    ZSTD_outBuffer to{out.data(), size_t(out.size()), 0};
    // Fed as a stream, so the encoder does not know the size and keeps the window it was given.
    while (in.pos < in.size)
        ZSTD_compressStream2(ctx, &to, &in, ZSTD_e_continue);
    while (ZSTD_compressStream2(ctx, &to, &in, ZSTD_e_end) != 0) {
    }
    ZSTD_freeCCtx(ctx);
    out.truncate(qsizetype(to.pos));
    return out;
}

TEST(ChunkCodec, AHostileChunkIsRefusedWithItsReason)
{
    const QByteArray chunk = testContent(5000, 7);
    ChunkCompressor compressor;
    ChunkDecompressor decompressor;
    const QByteArray good = compressor.compress(chunk);
    const ChunkIndexEntry entry{Sha256::hash(chunk), quint32(chunk.size()), quint32(good.size())};
    const auto as = [&](const QByteArray& stored) { return ChunkIndexEntry{entry.hash, entry.length, quint32(stored.size())}; };

    const Result<QByteArray> back = decompressor.decompress(good, entry);
    ASSERT_TRUE(back) << back.error().toStdString();
    EXPECT_EQ(*back, chunk);

    const QByteArray longer = compressor.compress(chunk + "!");
    const QByteArray shorter = compressor.compress(chunk.left(4999));
    const QByteArray other = compressor.compress(testContent(5000, 8));
    const QByteArray bomb = zstdWith(QByteArray(64 * 1024 * 1024, '\0'), 20, false);
    const QByteArray wideWindow = zstdWith(chunk, 27, false);
    const struct {
        const char* what;
        QByteArray stored;
        ChunkIndexEntry entry;
        QString reason;
    } cases[] = {
        {"wrong content", other, as(other), "SHA-256 differs from the index"},
        {"not zstd", chunk.left(100), as(chunk.left(100)), "not a valid zstd frame (Unknown frame descriptor)"},
        {"longer than declared", longer, as(longer), "decompresses to more than its 5000 bytes"},
        {"bomb without a size", bomb, as(bomb), "decompresses to more than its 5000 bytes"},
        {"shorter than declared", shorter, as(shorter), "decompresses to 4999 bytes, not 5000"},
        {"cut short", good.left(good.size() - 5), as(good.left(good.size() - 5)), "the zstd frame is cut short"},
        {"trailing bytes", good + good, as(good + good), QString("%1 bytes after the zstd frame").arg(good.size())},
        {"stored size", good, {entry.hash, entry.length, entry.storedLength + 1},
         QString("%1 bytes stored, the index says %2").arg(good.size()).arg(good.size() + 1)},
        {"window beyond the largest chunk", wideWindow, as(wideWindow),
         "not a valid zstd frame (Frame requires too much memory for decoding)"},
    };
    for (const auto& c : cases) {
        const Result<QByteArray> refused = decompressor.decompress(c.stored, c.entry);
        EXPECT_FALSE(refused) << c.what;
        EXPECT_EQ(refused.error().toStdString(), c.reason.toStdString()) << c.what;
        EXPECT_TRUE(decompressor.decompress(good, entry)) << "usable again after " << c.what;
    }
}

}  // namespace
