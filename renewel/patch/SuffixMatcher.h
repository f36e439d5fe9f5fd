#pragma once
// The longest match of a piece of the new file anywhere in the old file, found by binary search
// in the old file's suffix array (built by libdivsufsort: 4 bytes per old byte).

#include <QByteArrayView>

#include <cstdint>
#include <vector>

class SuffixMatcher {
public:
    struct Match {
        qint64 oldPos = 0;
        qint64 length = 0;
    };
    // Old files this size or larger can't be indexed (32-bit suffix array).
    static constexpr qint64 MaxOldSize = INT32_MAX;

    // old must stay alive while the matcher is used.
    explicit SuffixMatcher(QByteArrayView old);

    // The longest prefix of text that occurs in the old file, and where.
    Match longest(const uint8_t* text, qint64 length) const;

private:
    qint64 commonLength(qint64 oldPos, const uint8_t* text, qint64 length) const;

    const uint8_t* old_;
    qint64 oldSize_;
    std::vector<int32_t> suffixes_;
};
