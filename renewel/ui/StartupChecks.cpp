#include "ui/StartupChecks.h"

#include "run/report/FailureLine.h"
#include "platform/StandardStreams.h"

#include <QtGlobal>

#include <cstdlib>

namespace {
bool set(const char* name) { return !qEnvironmentVariableIsEmpty(name); }
bool hasDisplay() { return set("QT_QPA_PLATFORM") || set("DISPLAY") || set("WAYLAND_DISPLAY"); }
}  // namespace

bool useOffscreenWithoutDisplay()
{
    if (hasDisplay())
        return false;
    qputenv("QT_QPA_PLATFORM", "offscreen");
    return true;
}

StartupProblem startupProblem(bool showsPages)
{
    if (showsPages && !hasDisplay())
        return {QStringLiteral("display"),
                QStringLiteral("no display to show the window on (neither DISPLAY nor WAYLAND_DISPLAY is set)")};
    // The browser engine refuses to start as root with its sandbox on, and ends the program.
    if (showsPages && platform::runsAsAdministrator() && !set("QTWEBENGINE_DISABLE_SANDBOX") &&
        !qEnvironmentVariable("QTWEBENGINE_CHROMIUM_FLAGS").contains(QLatin1String("--no-sandbox")))
        return {QStringLiteral("browser"), QStringLiteral("the embedded browser does not run as root; run renewel as the player")};
    return {};
}

void ReportFatalMessages()
{
    static QtMessageHandler previous = nullptr;
    previous = qInstallMessageHandler([](QtMsgType type, const QMessageLogContext& context, const QString& message) {
        if (type == QtFatalMsg) {
            PrintFailure(QStringLiteral("Qt"), message.section(QLatin1Char('\n'), 0, 0).simplified());
            std::_Exit(1);
        }
        if (previous)
            previous(type, context, message);
    });
}
