#include "run/fetch/BackgroundTasks.h"

BackgroundTasks::BackgroundTasks() : receiver_(std::make_unique<QObject>()) {}

// The work still running ends first; the continuations it posted go with the receiver.
BackgroundTasks::~BackgroundTasks()
{
    pool_.waitForDone();
    receiver_.reset();
}
