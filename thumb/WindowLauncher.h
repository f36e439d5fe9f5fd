#pragma once
// thumb is two programs: "thumb", the command line that file managers and scripts call for every
// map, which loads no widget library; and the window program, which "thumb" replaces itself with
// (same process, same arguments) when the window is asked for. The window program lies beside
// "thumb" in the build, and in <libexec>/ironvale-thumb once installed.

// The file name of the window program.
constexpr const char* WindowProgramName = "thumb-window";

// Replaces this process with the window program, passing argv on. Returns only when that fails,
// with exit status 1 after one line on standard error.
int startWindowProgram(char** argv);
