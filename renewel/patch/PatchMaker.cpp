#include "patch/PatchMaker.h"

#include "patch/PatchHeader.h"
#include "patch/SuffixDiff.h"
#include "patch/SuffixMatcher.h"
#include "patch/ZeroRuns.h"
#include "patch/ZstdPack.h"

#include "trust/Sha256.h"

#include <zstd.h>

#include <future>
#include <new>
#include <optional>

namespace {

constexpr int PrefixLevel = 19;

const QString OutOfMemory = QStringLiteral("out of memory");

Result<QByteArray> prefixPatch(PatchHeader header, QByteArrayView old, QByteArrayView updated)
{
    try {
        Result<QByteArray> frame = zstdPack(updated, PrefixLevel, old);
        if (!frame)
            return frame;
        header.method = PatchMethod::ZstdPrefix;
        return header.encode() + *frame;
    } catch (const std::bad_alloc&) {
        return Result<QByteArray>::failure(OutOfMemory);
    }
}

Result<QByteArray> diffPatch(PatchHeader header, QByteArrayView old, QByteArrayView updated)
{
    const DiffStreams diff = suffixDiff(old, updated);
    QByteArray runs, words;
    splitZeroRuns(diff.diff, runs, words);
    header.method = PatchMethod::SuffixDiff;
    QByteArray frames;
    const QByteArray* parts[PatchHeader::StreamCount] = {&diff.control, &runs, &words, &diff.extra};
    for (int i = 0; i < PatchHeader::StreamCount; ++i) {
        Result<QByteArray> frame = zstdPack(*parts[i], ZSTD_maxCLevel());
        if (!frame)
            return frame;
        header.streams[size_t(i)] = {quint64(frame->size()), quint64(parts[i]->size())};
        frames += *frame;
    }
    return header.encode() + frames;
}

// The diff's patch; none when the old file is too large for a suffix array (2 GiB, 4 bytes of
// array per byte) or there is no memory for it.
std::optional<Result<QByteArray>> tryDiffPatch(const PatchHeader& header, QByteArrayView old, QByteArrayView updated)
{
    if (old.size() >= SuffixMatcher::MaxOldSize)
        return std::nullopt;
    try {
        return diffPatch(header, old, updated);
    } catch (const std::bad_alloc&) {
        return std::nullopt;
    }
}

}  // namespace

Result<QByteArray> makePatch(QByteArrayView old, QByteArrayView updated)
{
    if (quint64(old.size()) > PatchHeader::MaxFileSize || quint64(updated.size()) > PatchHeader::MaxFileSize)
        return Result<QByteArray>::failure(QStringLiteral("a file is larger than %1 bytes").arg(PatchHeader::MaxFileSize));
    PatchHeader header;
    header.oldSize = quint64(old.size());
    header.oldHash = Sha256::hash(old);
    header.newSize = quint64(updated.size());
    header.newHash = Sha256::hash(updated);

    // The two ways run side by side.
    std::future<Result<QByteArray>> byPrefix = std::async(std::launch::async, prefixPatch, header, old, updated);
    std::optional<Result<QByteArray>> byDiff = tryDiffPatch(header, old, updated);
    Result<QByteArray> prefix = byPrefix.get();
    if (!byDiff || !*byDiff)
        return prefix;
    if (!prefix || (*byDiff)->size() < prefix->size())
        return std::move(*byDiff);
    return prefix;
}
