// The thumbnail maker's window program, started by "thumb" when the window is asked for:
// "thumb" alone, or "thumb MAP" to open the window with that map's thumbnail made.

#include "Application.h"
#include "FileName.h"
#include "ThumbArguments.h"
#include "Unit1Main.h"

#include <cstdio>

int main(int argc, char** argv)
{
    QStringList args;
    for (int i = 0; i < argc; ++i)
        args << fileNameFromBytes(argv[i]);
    const QString windowMap = windowMapArgument(args);

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
