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

#ifdef Q_OS_LINUX
    // Without a display Qt would abort with a message about platform plugins; say what to do.
    if (qEnvironmentVariableIsEmpty("DISPLAY") && qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY")
        && qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) {
        std::fputs("thumb: no display to open the window on; to render without one use\n"
                   "  thumb -o OUT MAP...\n", stderr);
        return 2;
    }
#endif
    TApplication app(argc, argv);
    return runThumbWindow(windowMap.isEmpty() ? QStringList() : QStringList{windowMap});
}
