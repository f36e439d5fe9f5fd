#include "net/RateLimiter.h"

#include <algorithm>

std::chrono::microseconds RateLimiter::take(qint64 bytes)
{
    if (rate_ <= 0)
        return {};
    std::lock_guard lock(mutex_);
    const auto now = Clock::now();
    // An idle spell earns no credit beyond a tenth of a second of bytes.
    due_ = std::max(due_, now - std::chrono::milliseconds(100));
    due_ += std::chrono::microseconds(bytes * 1'000'000 / rate_);
    return std::chrono::duration_cast<std::chrono::microseconds>(std::max(due_ - now, Clock::duration{}));
}
