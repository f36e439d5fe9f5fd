#include "Application.h"
#include "ThumbCli.h"
#include "Unit1Main.h"

#include <cstdio>

int main(int argc, char** argv)
{
    QStringList args;
    for (int i = 0; i < argc; ++i)
        args << QString::fromLocal8Bit(argv[i]);
    // "thumb MAP" opens the window with that map rendered; other arguments are the command line.
    const QString windowMap = windowMapArgument(args);
    if (windowMap.isEmpty() && isCommandLineRun(args))
        return runCommandLine(args);

    TApplication app(argc, argv);
    return runThumbWindow(windowMap.isEmpty() ? QStringList() : QStringList{windowMap});
}
