#include "Application.h"
#include "ThumbCli.h"
#include "Unit1Main.h"

#include <cstdio>

int main(int argc, char** argv)
{
    QStringList args;
    for (int i = 0; i < argc; ++i)
        args << QString::fromLocal8Bit(argv[i]);
    if (isCommandLineRun(args))
        return runCommandLine(args);

    // Otherwise the window, with the map named on the command line (if any) already rendered.
    TApplication app(argc, argv);
    return runThumbWindow(QCoreApplication::arguments().mid(1));
}
