#pragma once
// Blocks of bytes handed from one thread to another, at most a few at a time, and emptied ones
// handed back to be filled again: what lets a file be read and checked on one thread while
// another writes it, in bounded memory.

#include <QByteArray>

#include <condition_variable>
#include <deque>
#include <mutex>
#include <optional>
#include <vector>

class BlockQueue {
public:
    explicit BlockQueue(size_t depth) : depth_(depth) {}

    // Waits for room; false once the taker has stopped (the block is dropped).
    bool push(QByteArray block);
    // The next block; nothing once the giver has ended and every block was taken.
    std::optional<QByteArray> pop();
    // A block at least `capacity` bytes large, empty: one handed back, or a new one.
    QByteArray fresh(qsizetype capacity);
    void recycle(QByteArray block);
    // The giver has no more blocks.
    void end();
    // The taker gives up: pushes return at once from now on.
    void stop();

private:
    const size_t depth_;
    std::mutex mutex_;
    std::condition_variable ready_, room_;
    std::deque<QByteArray> full_;
    std::vector<QByteArray> free_;
    bool ended_ = false;
    bool stopped_ = false;
};
