#include "WindowLauncher.h"

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstring>
#include <string>
#include <sys/stat.h>
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
    // The first candidate that exists is the one meant; say what is wrong with it, rather than
    // that some other candidate is missing.
    for (const std::string& candidate : candidates) {
        struct stat status {};
        if (stat(candidate.c_str(), &status) != 0)
            continue;
        const char* reason = nullptr;
        if (!S_ISREG(status.st_mode))
            reason = "not a regular file";
        else if (access(candidate.c_str(), X_OK) != 0)
            reason = "not executable (its permissions do not allow running it)";
        else
            execv(candidate.c_str(), argv);
        std::fprintf(stderr, "thumb: %s: cannot start the window program: %s\n", candidate.c_str(),
                     reason ? reason : std::strerror(errno));
        return 1;
    }
    std::fprintf(stderr, "thumb: %s: cannot start the window program: not found beside thumb (%s)\n",
                 WindowProgramName, folder.c_str());
    return 1;
}
