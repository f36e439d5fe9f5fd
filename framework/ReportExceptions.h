#pragma once
// Runs a piece of code and turns any exception it lets out into the general error report, as
// the application does for its event handlers. For code that runs where the application's own
// catching does not reach (start-up before the message loop, direct calls outside it).

#include "Application.h"
#include "ExceptionText.h"

#include <utility>

template <class F>
void reportExceptions(F&& f)
{
    try {
        std::forward<F>(f)();
    } catch (...) {
        TApplication::ShowException(currentExceptionMessage());
    }
}
