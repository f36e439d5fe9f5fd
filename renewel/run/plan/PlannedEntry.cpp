#include "run/plan/PlannedEntry.h"

#include "chunk/ChunkStore.h"
#include "site/ExecutableMarks.h"
#include "site/Sums.h"

QList<PlannedEntry> PlannedEntry::resolve(const QList<UpdateEntry>& entries, const Sums* sums)
{
    QList<PlannedEntry> planned;
    planned.reserve(entries.size());
    for (const UpdateEntry& entry : entries) {
        PlannedEntry p{entry, sums ? sums->digest(entry.listed) : std::nullopt, std::nullopt, std::nullopt};
        if (p.digest)
            p.indexDigest = sums->digest(ChunkStore::indexName(*p.digest).toLatin1());
        if (sums)
            p.executable = ExecutableMarks::executable(*sums, entry.listed);
        planned << std::move(p);
    }
    return planned;
}
