#pragma once
// The process's standard streams, and who it runs as.

#include "platform/FileIO.h"

namespace platform {

// Sends whatever is written to standard error from now on (by libraries and helper processes
// that inherit it) to nowhere, and gives back a descriptor of the real standard error for the
// program's own lines; -1 when that cannot be done (standard error is then left as it was).
NativeFile divertStandardError();

constexpr NativeFile StandardInput = 0;
constexpr NativeFile StandardOutput = 1;
// Whether the stream is a terminal a person watches (not a pipe, a file or nothing).
bool isTerminal(NativeFile stream);
// Whether the process runs with the system administrator's rights (root).
bool runsAsAdministrator();

}  // namespace platform
