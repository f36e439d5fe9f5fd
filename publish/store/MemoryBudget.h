#pragma once
// Bytes of memory that workers reserve before a big piece of work and give back after it: a
// reservation waits while the ones held would take the total past the budget. A reservation
// bigger than the whole budget is granted once nothing else is held, so it runs alone.

#include <QtGlobal>

#include <condition_variable>
#include <mutex>

class MemoryBudget {
public:
    explicit MemoryBudget(qint64 bytes) : budget_(bytes) {}

    // Holds its bytes of the budget from construction to destruction.
    class Lease {
    public:
        Lease(MemoryBudget& budget, qint64 bytes);
        ~Lease();
        Lease(const Lease&) = delete;
        Lease& operator=(const Lease&) = delete;

    private:
        MemoryBudget& budget_;
        qint64 bytes_;
    };

private:
    std::mutex mutex_;
    std::condition_variable freed_;
    const qint64 budget_;
    qint64 held_ = 0;
};
