#pragma once
// The process's standard streams.

#include "platform/FileIO.h"

namespace platform {

// Sends whatever is written to standard error from now on (by libraries and helper processes
// that inherit it) to nowhere, and gives back a descriptor of the real standard error for the
// program's own lines; -1 when that cannot be done (standard error is then left as it was).
NativeFile divertStandardError();

}  // namespace platform
