#include "chunk/FetchPlan.h"

#include "chunk/ChunkFolder.h"
#include "chunk/InstalledCopies.h"

#include <QSet>

FetchPlan planFetch(const ChunkIndex& index, const InstalledCopies& installed, const ChunkFolder* folder)
{
    FetchPlan plan;
    QSet<QByteArray> planned;
    for (const ChunkIndexEntry& entry : index.chunks) {
        if (installed.has(entry)) {
            plan.localBytes += entry.length;
            continue;
        }
        if (planned.contains(entry.hash))
            continue;
        planned.insert(entry.hash);
        if (folder && folder->has(entry)) {
            plan.kept.append(entry.hash);
            continue;
        }
        plan.missing.append(entry);
        plan.fetchBytes += entry.storedLength;
    }
    return plan;
}
