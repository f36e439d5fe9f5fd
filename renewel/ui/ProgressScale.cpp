#include "ui/ProgressScale.h"

#include <algorithm>
#include <limits>

ProgressBarRange ScaleProgress(qint64 total, qint64 readed)
{
    constexpr qint64 limit = std::numeric_limits<int>::max();
    total = std::max<qint64>(total, 0);
    readed = std::clamp<qint64>(readed, 0, total);
    // Rounded up without adding first: a total near 2^63 must not overflow.
    const qint64 factor = total > limit ? total / limit + (total % limit != 0) : 1;
    return {int(total / factor), int(readed / factor)};
}
