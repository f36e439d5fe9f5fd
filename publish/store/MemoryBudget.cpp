#include "store/MemoryBudget.h"

MemoryBudget::Lease::Lease(MemoryBudget& budget, qint64 bytes) : budget_(budget), bytes_(bytes)
{
    std::unique_lock lock(budget_.mutex_);
    budget_.freed_.wait(lock, [&] { return budget_.held_ == 0 || budget_.held_ + bytes_ <= budget_.budget_; });
    budget_.held_ += bytes_;
}

MemoryBudget::Lease::~Lease()
{
    {
        const std::lock_guard lock(budget_.mutex_);
        budget_.held_ -= bytes_;
    }
    budget_.freed_.notify_all();
}
