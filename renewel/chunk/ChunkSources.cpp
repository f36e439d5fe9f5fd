#include "chunk/ChunkSources.h"

#include <QSet>

ChunkSources::ChunkSources(DownloadQueue& queue, const QString& downloadFolder, int window)
    : folder_(downloadFolder), remote_(queue, folder_, window)
{
}

void ChunkSources::clear()
{
    installed_ = InstalledCopies();
    remote_.forgetServed();
}

// A chunk fetched now that is refused drops the source that served it (the file fails when no
// source is left); a chunk kept from an earlier run that is bad, or an installed copy changed
// since it was listed, is simply fetched.
ChunkSources::Refetch ChunkSources::refused(const ChunkIndex& index, const QList<AssemblyProblem>& problems)
{
    Refetch refetch;
    QSet<QByteArray> seen;
    for (const AssemblyProblem& problem : problems) {
        const ChunkIndexEntry& chunk = index.chunks[problem.chunk];
        if (seen.contains(chunk.hash))
            continue;
        seen.insert(chunk.hash);
        folder_.drop(chunk.hash);
        if (problem.fetched) {
            const QString why = QStringLiteral("chunk %1 of %2 refused: %3")
                                    .arg(problem.chunk + 1)
                                    .arg(index.chunks.size())
                                    .arg(problem.reason);
            if (const std::optional<RemoteChunks::Refusal> refusal = remote_.refuse(chunk.hash, why)) {
                refetch.sourceDropped |= refusal->dropped;
                if (!refusal->sourceLeft) {
                    refetch.failure = RemoteChunks::Failure{refusal->url, why};
                    return refetch;
                }
            }
        }
        installed_.drop(chunk.hash);
        refetch.chunks << chunk;
    }
    return refetch;
}
