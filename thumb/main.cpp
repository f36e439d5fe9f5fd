// thumb: the command line renders here; the window is the window program's (see WindowLauncher.h).

#include "FileName.h"
#include "ThumbCli.h"
#include "WindowLauncher.h"

int main(int argc, char** argv)
{
    QStringList args;
    for (int i = 0; i < argc; ++i)
        args << fileNameFromBytes(argv[i]);
    // "thumb MAP" opens the window with that map rendered; other arguments are the command line.
    if (windowMapArgument(args).isEmpty() && isCommandLineRun(args))
        return runCommandLine(args);
    return startWindowProgram(argv);
}
