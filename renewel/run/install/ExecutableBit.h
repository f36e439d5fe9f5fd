#pragma once
// The executable bit of an installed file, as the site names it for the entry (ExecutableMarks).
// Where the site says nothing of modes the installed file keeps its own.

#include "run/plan/PlannedEntry.h"

#include "Result.h"

#include <QString>

#include <optional>

class RunReport;

// The bit the installed file is to be given, when it has the other one; nothing when it is
// right, the site says nothing, or there is no regular file to give it to.
std::optional<bool> ExecutableBitDue(const PlannedEntry& planned, const QString& installBase);

// Gives the installed file the bit the site names, where it differs; a failure is the run's and
// reported to it.
Status ApplyExecutableBit(const PlannedEntry& planned, const QString& installBase, RunReport& report);
