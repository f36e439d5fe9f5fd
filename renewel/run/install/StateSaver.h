#pragma once
// Writes the installed-state record at the end of every run that held the installation: after a
// completed run the record names the new list alone; otherwise the files of both lists stay
// candidates for deletion.

#include "site/UpdateList.h"

#include <QString>

class InstalledState;

class StateSaver {
public:
    // Once per run; later calls do nothing.
    static void save(InstalledState& state, const UpdateListEntries& list, bool completed, const QString& programFolder,
                     const QString& installBase);
};
