#include "patch/SuffixMatcher.h"

#include <divsufsort.h>

#include <algorithm>
#include <cstring>
#include <stdexcept>

SuffixMatcher::SuffixMatcher(QByteArrayView old)
    : old_(reinterpret_cast<const uint8_t*>(old.data())), oldSize_(old.size()), suffixes_(size_t(old.size()))
{
    if (oldSize_ > 0 && divsufsort(old_, suffixes_.data(), saidx_t(oldSize_)) != 0)
        throw std::bad_alloc();
}

qint64 SuffixMatcher::commonLength(qint64 oldPos, const uint8_t* text, qint64 length) const
{
    const qint64 n = std::min(length, oldSize_ - oldPos);
    qint64 i = 0;
    while (i < n && old_[oldPos + i] == text[i])
        ++i;
    return i;
}

SuffixMatcher::Match SuffixMatcher::longest(const uint8_t* text, qint64 length) const
{
    if (oldSize_ == 0 || length == 0)
        return {};
    // The first suffix not below text; the longest match is it or the one before it.
    size_t lo = 0;
    size_t hi = suffixes_.size();
    while (lo < hi) {
        const size_t mid = lo + (hi - lo) / 2;
        const qint64 pos = suffixes_[mid];
        const qint64 n = std::min(length, oldSize_ - pos);
        const int order = std::memcmp(old_ + pos, text, size_t(n));
        if (order < 0 || (order == 0 && n < length && oldSize_ - pos == n))
            lo = mid + 1;
        else
            hi = mid;
    }
    Match best;
    for (size_t i : {lo, lo - 1}) {
        if (i >= suffixes_.size())
            continue;
        const qint64 n = commonLength(suffixes_[i], text, length);
        if (n > best.length)
            best = {suffixes_[i], n};
    }
    return best;
}
