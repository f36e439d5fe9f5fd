#include "Application.h"
#include "ThumbCli.h"

#include <cstdio>

int main(int argc, char** argv)
{
    QStringList args;
    for (int i = 0; i < argc; ++i)
        args << QString::fromLocal8Bit(argv[i]);
    if (isCommandLineRun(args))
        return runCommandLine(args);

    std::fputs(commandLineUsage().toLocal8Bit().constData(), stdout);
    return 0;
}
