#pragma once
// Decodes one zstd frame from memory piece by piece, never past the size the patch's head
// declares for it: a frame that would decode to more (a bomb), to less, that is damaged or that
// asks for a window beyond MaxWindowLog is refused with a reason. Its memory is the decoder's
// window buffer, at most min(the frame's content size, 2^MaxWindowLog) and a few 128 KiB blocks.

#include "Result.h"

#include <QByteArrayView>

struct ZSTD_DCtx_s;

class ZstdStreamReader {
public:
    static constexpr int MaxWindowLog = 27;

    ZstdStreamReader();
    ~ZstdStreamReader();
    ZstdStreamReader(const ZstdStreamReader&) = delete;
    ZstdStreamReader& operator=(const ZstdStreamReader&) = delete;

    // Starts on frame, which decodes to size bytes; prefix (kept alive by the caller) is the
    // content the frame was compressed against, if any.
    Status start(QByteArrayView frame, quint64 size, QByteArrayView prefix = {});
    // Exactly length more bytes into into.
    Status read(char* into, quint64 length);
    quint64 remaining() const { return size_ - produced_; }
    // Every declared byte was read, the frame ends there and nothing follows it.
    Status finish();

private:
    ZSTD_DCtx_s* ctx_;
    QByteArrayView frame_;
    size_t inPos_ = 0;
    quint64 size_ = 0;
    quint64 produced_ = 0;
    bool ended_ = false;
};
