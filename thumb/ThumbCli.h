#pragma once
// The command line of thumb: "thumb -o OUT MAP..." renders thumbnails without any window.

#include "ThumbArguments.h"

#include <QStringList>

// The version "--version" prints.
QString thumbVersion();

// Runs the command line; creates a windowless application object when none exists yet. Returns
// the exit status: 0 all maps written, 1 some map failed ("thumb: <map>: <message>" on standard error,
// the other maps are still written), 2 bad usage (on standard error). "--help" prints the usage
// and "--version" the version on standard output and return 0.
int runCommandLine(const QStringList& args);
