#include "chunk/FetchPlan.h"

#include <QSet>

void addLocalChunks(LocalChunks& local, const QString& file, const FileChunks& chunks)
{
    for (const FileChunk& chunk : chunks.chunks) {
        if (!local.contains(chunk.hash))
            local.insert(chunk.hash, ChunkSource{file, chunk.offset, chunk.length});
    }
}

FetchPlan planFetch(const ChunkIndex& index, const LocalChunks& local)
{
    FetchPlan plan;
    QSet<QByteArray> planned;
    for (const ChunkIndexEntry& entry : index.chunks) {
        const auto found = local.constFind(entry.hash);
        if (found != local.constEnd() && found->length == entry.length) {
            plan.localBytes += entry.length;
            continue;
        }
        if (planned.contains(entry.hash))
            continue;
        planned.insert(entry.hash);
        plan.missing.append(entry);
        plan.fetchBytes += entry.storedLength;
    }
    return plan;
}
