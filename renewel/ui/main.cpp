// renewel, the Ironvale 3D auto-updater: creates the update window and runs the message loop
// until the window closes or the application is asked to end. The exit status tells a launcher
// how the update went (see --help).

#include "Application.h"
#include "MessageBox.h"
#include "ProgramFolder.h"
#include "run/Arguments.h"
#include "run/CheckCommand.h"
#include "run/report/FailureLine.h"
#include "ui/StartupChecks.h"
#include "ui/Unit1.h"
#include "platform/StandardStreams.h"
#include "platform/StopSignals.h"
#include "run/UpdateRun.h"

#include <QCoreApplication>
#include <QLoggingCategory>
#include <QTimer>

#include <cstdio>
#include <optional>

#ifdef __SANITIZE_ADDRESS__
// Sanitizer builds only: Chromium inside Qt WebEngine (not built with the sanitizers) frees some
// of its own objects through a base of another size. That mismatch is not ours and would stop
// every run; all other checks stay on.
extern "C" const char* __asan_default_options() { return "new_delete_type_mismatch=0"; }
#endif

namespace {
// Standard error carries our failure lines and nothing else: the browser engine and its helper
// processes write their start-up chatter there. Unless RENEWEL_DEBUG asks for it, that goes to
// /dev/null while our lines keep the real standard error.
void quietenThirdPartyOutput()
{
#ifndef __SANITIZE_ADDRESS__
    if (qEnvironmentVariableIsSet("RENEWEL_DEBUG"))
        return;
    const NativeFile ours = platform::divertStandardError();
    if (ours < 0)
        return;
    SetFailureOutput(ours);
    QLoggingCategory::setFilterRules(QStringLiteral("qt.webenginecontext.info=false"));
#endif
}

// A run nobody watches (quiet, repair) ends as cancelled when asked to stop by a signal: the
// record is written, the lock released, "--progress" ends with its "end" line. A stop before the
// run has begun keeps it from beginning. True once such an early stop came.
void cancelOnStopSignals(StopSignals& stopSignals, TUpdateDlg& window, bool& stoppedEarly)
{
    QObject::connect(&stopSignals, &StopSignals::received, &window, [&window, &stoppedEarly] {
        UpdateRun* run = window.Run();
        if (run && run->running())
            return run->cancel();
        if (run && run->outcome().kind != UpdateOutcome::NotRun)
            return;  // over already
        window.Timer1->stop();
        stoppedEarly = true;
        TApplication::Terminate();
    });
}

// The commands that need no window: help, version and check. Empty for an update.
std::optional<int> runCommand(int argc, char** argv, const QStringList& arguments)
{
    switch (CommandOf(arguments)) {
    case Command::Help:
        std::fputs(qPrintable(UsageText()), stdout);
        return 0;
    case Command::Version:
        std::printf("renewel %s\n", IV_VERSION);
        return 0;
    case Command::Check: {
        QCoreApplication app(argc, argv);
        return RunCheck(ProgramFolder(), stdout);  // a stop signal cancels it
    }
    case Command::Update:
        break;
    }
    return std::nullopt;
}

// The update window, shown or (quiet, repair) off screen when there is no display, until it
// closes; its exit status.
int runWindow(int argc, char** argv, bool interactive)
{
    // Over ssh, or from a launcher's script: the window is made off screen, where no one could
    // close a box; each is answered at once (its failure line has said what went wrong).
    if (!interactive && useOffscreenWithoutDisplay())
        setMessageBoxHandler([](const BoxRequest&) { return 0; });
    ReportFatalMessages();
    // The embedded browser shares its GL contexts with the widgets; Qt WebEngine needs this set
    // before the application object exists.
    QCoreApplication::setAttribute(Qt::AA_ShareOpenGLContexts);
    TApplication app(argc, argv);
    TApplication::setTitle(QStringLiteral("Ironvale 3D Update"));
    TUpdateDlg window;  // sets UpdateDlg, then runs FormCreate
    std::optional<StopSignals> stopSignals;  // the window's own run stops when the window is closed
    bool stoppedEarly = false;
    if (!interactive)
        cancelOnStopSignals(stopSignals.emplace(), window, stoppedEarly);
    window.show();
    TApplication::Run();
    if (stoppedEarly) {
        UpdateOutcome cancelled;
        cancelled.kind = UpdateOutcome::Cancelled;
        return ExitStatus(cancelled);
    }
    return window.ExitStatus();
}
}  // namespace

int main(int argc, char** argv)
{
    QStringList arguments;
    for (int i = 0; i < argc; ++i)
        arguments << QString::fromLocal8Bit(argv[i]);
    if (const std::optional<int> status = runCommand(argc, argv, arguments))
        return *status;
    quietenThirdPartyOutput();
    const bool interactive = !QuietArgument(arguments) && !RepairArgument(arguments);
    if (const StartupProblem problem = startupProblem(interactive); !problem.subject.isEmpty()) {
        PrintFailure(problem.subject, problem.reason);
        return 1;
    }
    return runWindow(argc, argv, interactive);
}
