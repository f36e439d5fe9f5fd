#pragma once
// The command line of thumb: "thumb -o OUT MAP..." renders thumbnails without any window.

#include <QString>
#include <QStringList>

// True when the arguments (program name first) ask for the command line rather than the window:
// any argument other than Qt's own window options.
bool isCommandLineRun(const QStringList& args);

QString commandLineUsage();

// Runs the command line; creates a windowless application object when none exists yet. Returns
// the exit status: 0 all maps written, 1 some map failed ("<map>: <message>" on standard error,
// the other maps are still written), 2 bad usage (usage on standard error). "--help" prints the
// usage on standard output and returns 0.
int runCommandLine(const QStringList& args);
