#include "run/install/StateSaver.h"

#include "run/install/InstalledState.h"

#include <QSet>

void StateSaver::save(InstalledState& state, const UpdateListEntries& list, bool completed,
                      const QString& programFolder, const QString& installBase)
{
    if (list.problem.kind == ListProblem::None && !list.entries.isEmpty()) {
        QSet<QByteArray> now;
        for (const UpdateEntry& entry : list.entries)
            now.insert(entry.listed);
        if (completed) {
            state.Listed = now;
            state.keepOnly(now);
        } else {
            state.Listed.unite(now);
        }
    } else if (completed) {
        state.Listed.clear();
        state.keepOnly({});
    }
    state.write(programFolder, installBase);
}
