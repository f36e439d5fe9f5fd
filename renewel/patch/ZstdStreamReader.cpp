#include "patch/ZstdStreamReader.h"

#include <zstd.h>

#include <new>

ZstdStreamReader::ZstdStreamReader() : ctx_(ZSTD_createDCtx())
{
    if (!ctx_)
        throw std::bad_alloc();
}

ZstdStreamReader::~ZstdStreamReader() { ZSTD_freeDCtx(ctx_); }

Status ZstdStreamReader::start(QByteArrayView frame, quint64 size, QByteArrayView prefix)
{
    ZSTD_DCtx_reset(ctx_, ZSTD_reset_session_and_parameters);
    ZSTD_DCtx_setParameter(ctx_, ZSTD_d_windowLogMax, MaxWindowLog);
    if (!prefix.isEmpty()) {
        const size_t r = ZSTD_DCtx_refPrefix(ctx_, prefix.data(), size_t(prefix.size()));
        if (ZSTD_isError(r))
            return Status::failure(QLatin1StringView(ZSTD_getErrorName(r)));
    }
    frame_ = frame;
    inPos_ = 0;
    size_ = size;
    produced_ = 0;
    ended_ = false;
    return {};
}

Status ZstdStreamReader::read(char* into, quint64 length)
{
    if (length > remaining())
        return Status::failure(QStringLiteral("asks for more than the stream's %1 bytes").arg(size_));
    ZSTD_outBuffer out{into, size_t(length), 0};
    while (out.pos < out.size) {
        if (ended_)
            return Status::failure(QStringLiteral("a stream ends before its %1 bytes").arg(size_));
        ZSTD_inBuffer in{frame_.data(), size_t(frame_.size()), inPos_};
        const size_t before = out.pos;
        const size_t left = ZSTD_decompressStream(ctx_, &out, &in);
        if (ZSTD_isError(left))
            return Status::failure(QStringLiteral("a stream is damaged (%1)").arg(QLatin1StringView(ZSTD_getErrorName(left))));
        const bool moved = in.pos != inPos_ || out.pos != before;
        inPos_ = in.pos;
        ended_ = left == 0;
        if (!ended_ && !moved)
            return Status::failure(QStringLiteral("a stream is cut short"));
    }
    produced_ += length;
    return {};
}

Status ZstdStreamReader::finish()
{
    if (produced_ != size_)
        return Status::failure(QStringLiteral("%1 bytes of a stream were not used").arg(size_ - produced_));
    // The frame may still hold its end mark, or more content than declared.
    while (!ended_) {
        char spare;
        ZSTD_outBuffer out{&spare, 1, 0};
        ZSTD_inBuffer in{frame_.data(), size_t(frame_.size()), inPos_};
        const size_t left = ZSTD_decompressStream(ctx_, &out, &in);
        if (ZSTD_isError(left))
            return Status::failure(QStringLiteral("a stream is damaged (%1)").arg(QLatin1StringView(ZSTD_getErrorName(left))));
        if (out.pos != 0)
            return Status::failure(QStringLiteral("a stream holds more than its %1 bytes").arg(size_));
        if (left != 0 && in.pos == inPos_)
            return Status::failure(QStringLiteral("a stream is cut short"));
        inPos_ = in.pos;
        ended_ = left == 0;
    }
    if (inPos_ != size_t(frame_.size()))
        return Status::failure(QStringLiteral("%1 bytes after a stream's frame").arg(size_t(frame_.size()) - inPos_));
    return {};
}
