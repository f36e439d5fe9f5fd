#include "platform/StandardStreams.h"

#include <cstdio>
#include <fcntl.h>
#include <unistd.h>

namespace platform {

NativeFile divertStandardError()
{
    const int ours = ::fcntl(2, F_DUPFD_CLOEXEC, 3);
    if (ours < 0)
        return -1;
    const int null = ::open("/dev/null", O_WRONLY | O_CLOEXEC);
    if (null < 0) {
        ::close(ours);
        return -1;
    }
    std::fflush(stderr);
    ::dup2(null, 2);
    ::close(null);
    return ours;
}

bool isTerminal(NativeFile stream) { return ::isatty(stream) != 0; }

bool runsAsAdministrator() { return ::geteuid() == 0; }

}  // namespace platform
