#include "run/fetch/ChunkEstimate.h"

#include "chunk/ChunkStore.h"
#include "net/DownloadFile.h"

ChunkEstimate ChunkEstimate::of(const ChunkIndex& index, const LocalChunks& local, const QString& downloadFolder)
{
    ChunkEstimate estimate;
    estimate.missing = planFetch(index, local).missing;
    // A kept chunk is checked when it is used; one of another length is fetched again.
    for (const ChunkIndexEntry& chunk : std::as_const(estimate.missing)) {
        if (DownloadFileSize(keptPath(downloadFolder, chunk.hash)) == chunk.storedLength)
            continue;
        estimate.toFetch << chunk;
        estimate.fetchBytes += chunk.storedLength;
    }
    return estimate;
}

QString ChunkEstimate::keptPath(const QString& downloadFolder, const QByteArray& hash)
{
    return downloadFolder + QLatin1Char('/') + ChunkStore::objectFileName(hash);
}

qint64 ChunkEstimate::cost(qint64 indexBytes, qint64 fileSize) const
{
    return indexBytes + (declines(indexBytes, fileSize) ? fileSize : fetchBytes);
}
