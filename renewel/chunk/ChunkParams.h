#pragma once
// The sizes that content-defined chunking works with. A chunk ends where the rolling hash of its
// bytes says so, but never before `minimum` bytes and never after `maximum`; `average` (a power
// of two) sets how often the hash says so. A file is cut the same way by renewel-publish and by
// renewel on installed copies only when both use the same sizes, so the index records them.

#include "Result.h"

#include <QtGlobal>

// The largest chunk any index may declare: bounds every buffer that holds one chunk.
constexpr quint32 MaxChunkLength = 8u * 1024 * 1024;

struct ChunkParams {
    quint32 minimum = 0;
    quint32 average = 0;
    quint32 maximum = 0;

    // A quarter of the average to four times it.
    static ChunkParams forAverage(quint32 average) { return {average / 4, average, average * 4}; }

    // 64 <= minimum < average < maximum <= MaxChunkLength, the average a power of two.
    Status check() const;

    bool operator==(const ChunkParams&) const = default;
};
