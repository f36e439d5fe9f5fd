#include "patch/ZstdPack.h"

#include "patch/ZstdStreamReader.h"

#include <zstd.h>

#include <algorithm>
#include <bit>
#include <memory>

namespace {
constexpr int MinWindowLog = 10;   // zstd's smallest window
}  // namespace

Result<QByteArray> zstdPack(QByteArrayView data, int level, QByteArrayView prefix)
{
    const auto fail = [](size_t code) {
        return Result<QByteArray>::failure(QStringLiteral("zstd: %1").arg(QLatin1StringView(ZSTD_getErrorName(code))));
    };
    std::unique_ptr<ZSTD_CCtx, decltype(&ZSTD_freeCCtx)> ctx(ZSTD_createCCtx(), ZSTD_freeCCtx);
    if (!ctx)
        return Result<QByteArray>::failure(QStringLiteral("zstd: out of memory"));
    const quint64 reach = quint64(prefix.size()) + quint64(data.size());
    const int windowLog = std::clamp(int(std::bit_width(reach)), MinWindowLog, ZstdStreamReader::MaxWindowLog);
    for (auto [param, value] : {std::pair{ZSTD_c_compressionLevel, level}, {ZSTD_c_windowLog, windowLog},
                                {ZSTD_c_enableLongDistanceMatching, 1}, {ZSTD_c_contentSizeFlag, 1}}) {
        if (const size_t r = ZSTD_CCtx_setParameter(ctx.get(), param, value); ZSTD_isError(r))
            return fail(r);
    }
    if (!prefix.isEmpty()) {
        if (const size_t r = ZSTD_CCtx_refPrefix(ctx.get(), prefix.data(), size_t(prefix.size())); ZSTD_isError(r))
            return fail(r);
    }
    QByteArray out(qsizetype(ZSTD_compressBound(size_t(data.size()))), Qt::Uninitialized);
    const size_t n = ZSTD_compress2(ctx.get(), out.data(), size_t(out.size()), data.data(), size_t(data.size()));
    if (ZSTD_isError(n))
        return fail(n);
    out.truncate(qsizetype(n));
    return out;
}
