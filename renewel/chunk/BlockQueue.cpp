#include "chunk/BlockQueue.h"

bool BlockQueue::push(QByteArray block)
{
    std::unique_lock lock(mutex_);
    room_.wait(lock, [&] { return full_.size() < depth_ || stopped_; });
    if (stopped_)
        return false;
    full_.push_back(std::move(block));
    ready_.notify_one();
    return true;
}

std::optional<QByteArray> BlockQueue::pop()
{
    std::unique_lock lock(mutex_);
    ready_.wait(lock, [&] { return !full_.empty() || ended_; });
    if (full_.empty())
        return std::nullopt;
    QByteArray block = std::move(full_.front());
    full_.pop_front();
    room_.notify_one();
    return block;
}

QByteArray BlockQueue::fresh(qsizetype capacity)
{
    {
        std::lock_guard lock(mutex_);
        if (!free_.empty() && free_.back().capacity() >= capacity) {
            QByteArray block = std::move(free_.back());
            free_.pop_back();
            block.resize(0);
            return block;
        }
    }
    QByteArray block;
    block.reserve(capacity);
    return block;
}

void BlockQueue::recycle(QByteArray block)
{
    std::lock_guard lock(mutex_);
    free_.push_back(std::move(block));
}

void BlockQueue::end()
{
    std::lock_guard lock(mutex_);
    ended_ = true;
    ready_.notify_all();
}

void BlockQueue::stop()
{
    std::lock_guard lock(mutex_);
    stopped_ = true;
    full_.clear();
    room_.notify_all();
}
