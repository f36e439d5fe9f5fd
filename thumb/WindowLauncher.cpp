#include "WindowLauncher.h"

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstring>
#include <string>
#include <unistd.h>

#ifndef IV_WINDOW_DIR_FROM_BIN
#error "IV_WINDOW_DIR_FROM_BIN must give the window program's folder relative to the program folder"
#endif

namespace {

// The folder of the running program, from the kernel's link to its file.
std::string programFolder()
{
    char path[PATH_MAX];
    const ssize_t length = readlink("/proc/self/exe", path, sizeof path - 1);
    if (length <= 0)
        return ".";
    path[length] = '\0';
    const char* slash = std::strrchr(path, '/');
    return slash == path ? std::string("/") : std::string(path, size_t(slash - path));
}

}  // namespace

int startWindowProgram(char** argv)
{
    const std::string folder = programFolder();
    const std::string candidates[] = {
        folder + "/" + WindowProgramName,
        folder + "/" IV_WINDOW_DIR_FROM_BIN "/" + WindowProgramName,
    };
    int error = ENOENT;
    for (const std::string& candidate : candidates) {
        if (access(candidate.c_str(), X_OK) != 0)
            continue;
        execv(candidate.c_str(), argv);
        error = errno;
    }
    std::fprintf(stderr, "thumb: %s: cannot start the window program: %s\n", WindowProgramName,
                 std::strerror(error));
    return 1;
}
