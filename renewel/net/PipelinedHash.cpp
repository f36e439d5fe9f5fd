#include "net/PipelinedHash.h"

namespace {
constexpr qint64 kMaxPending = 16 * 1024 * 1024;
}

TPipelinedHash::TPipelinedHash() : thread_([this] { work(); }) {}

TPipelinedHash::~TPipelinedHash()
{
    {
        std::lock_guard lock(mutex_);
        closing_ = true;
    }
    changed_.notify_all();
    thread_.join();
}

void TPipelinedHash::Update(const char* data, qint64 size)
{
    QByteArray chunk(data, size);
    std::unique_lock lock(mutex_);
    changed_.wait(lock, [this] { return pendingBytes_ < kMaxPending; });
    pendingBytes_ += size;
    pending_.push_back(std::move(chunk));
    changed_.notify_all();
}

QByteArray TPipelinedHash::Final()
{
    std::unique_lock lock(mutex_);
    changed_.wait(lock, [this] { return pending_.empty() && idle_; });
    return hash_.final();
}

void TPipelinedHash::work()
{
    std::unique_lock lock(mutex_);
    for (;;) {
        changed_.wait(lock, [this] { return closing_ || !pending_.empty(); });
        if (pending_.empty())
            return;
        QByteArray chunk = std::move(pending_.front());
        pending_.pop_front();
        idle_ = false;
        lock.unlock();
        hash_.update(chunk);
        lock.lock();
        pendingBytes_ -= chunk.size();
        idle_ = true;
        changed_.notify_all();
    }
}
