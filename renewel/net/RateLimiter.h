#pragma once
// A byte budget per second shared by the downloads of one run: each transfer takes what it
// received and sleeps (on its own thread) while the budget is spent.

#include <QtGlobal>

#include <atomic>
#include <chrono>
#include <mutex>

class RateLimiter {
public:
    explicit RateLimiter(qint64 bytesPerSecond) : rate_(bytesPerSecond) {}
    // How long the caller should wait before going on, having taken `bytes` from the budget.
    std::chrono::microseconds take(qint64 bytes);

private:
    using Clock = std::chrono::steady_clock;
    const qint64 rate_;
    std::mutex mutex_;
    Clock::time_point due_{};  // when the bytes taken so far will have been paid for
};
