#include "chunk/ChunkCodec.h"

#include "trust/Sha256.h"

#include <zstd.h>

#include <bit>
#include <new>
#include <stdexcept>

ChunkCompressor::ChunkCompressor(int level) : ctx_(ZSTD_createCCtx()), level_(level)
{
    if (!ctx_)
        throw std::bad_alloc();
}

ChunkCompressor::~ChunkCompressor() { ZSTD_freeCCtx(ctx_); }

QByteArray ChunkCompressor::compress(QByteArrayView chunk)
{
    QByteArray out(qsizetype(ZSTD_compressBound(size_t(chunk.size()))), Qt::Uninitialized);
    const size_t n = ZSTD_compressCCtx(ctx_, out.data(), size_t(out.size()), chunk.data(), size_t(chunk.size()), level_);
    if (ZSTD_isError(n))
        throw std::runtime_error(std::string("zstd compression failed: ") + ZSTD_getErrorName(n));
    out.truncate(qsizetype(n));
    return out;
}

ChunkDecompressor::ChunkDecompressor() : ctx_(ZSTD_createDCtx())
{
    if (!ctx_)
        throw std::bad_alloc();
    // No frame may ask for a window larger than the largest chunk: bounds the memory a frame
    // can make the decoder take.
    ZSTD_DCtx_setParameter(ctx_, ZSTD_d_windowLogMax, std::bit_width(MaxChunkLength - 1));
}

ChunkDecompressor::~ChunkDecompressor() { ZSTD_freeDCtx(ctx_); }

Result<QByteArray> ChunkDecompressor::decompress(QByteArrayView stored, const ChunkIndexEntry& entry)
{
    const auto fail = [](const QString& why) { return Result<QByteArray>::failure(why); };
    if (stored.size() != qsizetype(entry.storedLength))
        return fail(QStringLiteral("%1 bytes stored, the index says %2").arg(stored.size()).arg(entry.storedLength));
    if (entry.length > MaxChunkLength)
        return fail(QStringLiteral("length %1 is beyond the largest chunk").arg(entry.length));

    ZSTD_DCtx_reset(ctx_, ZSTD_reset_session_only);
    // One byte of room beyond the declared length shows a frame that would go on.
    QByteArray out(qsizetype(entry.length) + 1, Qt::Uninitialized);
    ZSTD_inBuffer in{stored.data(), size_t(stored.size()), 0};
    ZSTD_outBuffer to{out.data(), size_t(out.size()), 0};
    for (;;) {
        const size_t before = in.pos + to.pos;
        const size_t left = ZSTD_decompressStream(ctx_, &to, &in);
        if (ZSTD_isError(left))
            return fail(QStringLiteral("not a valid zstd frame (%1)").arg(QLatin1StringView(ZSTD_getErrorName(left))));
        if (to.pos > entry.length)
            return fail(QStringLiteral("decompresses to more than its %1 bytes").arg(entry.length));
        if (left == 0)
            break;
        if (in.pos == in.size || in.pos + to.pos == before)
            return fail(QStringLiteral("the zstd frame is cut short"));
    }
    if (in.pos != in.size)
        return fail(QStringLiteral("%1 bytes after the zstd frame").arg(in.size - in.pos));
    if (to.pos != entry.length)
        return fail(QStringLiteral("decompresses to %1 bytes, not %2").arg(to.pos).arg(entry.length));
    out.truncate(qsizetype(to.pos));
    if (Sha256::hash(out) != entry.hash)
        return fail(QStringLiteral("SHA-256 differs from the index"));
    return out;
}
