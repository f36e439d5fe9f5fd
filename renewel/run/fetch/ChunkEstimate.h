#pragma once
// What building a file from chunks costs in downloads, worked out without fetching anything: the
// chunks of the new content that are neither on the disk (local chunks) nor kept in the download
// folder by an earlier run.

#include "chunk/ChunkIndex.h"
#include "chunk/FetchPlan.h"

#include <QList>
#include <QString>

struct ChunkEstimate {
    QList<ChunkIndexEntry> missing;  // not on the disk: each used from the download folder or fetched
    QList<ChunkIndexEntry> toFetch;  // of those, the ones to fetch
    qint64 fetchBytes = 0;           // their stored lengths added up

    // downloadFolder: where earlier runs kept the chunks they fetched.
    static ChunkEstimate of(const ChunkIndex& index, const LocalChunks& local, const QString& downloadFolder);
    // Where a chunk is kept in the download folder.
    static QString keptPath(const QString& downloadFolder, const QByteArray& hash);

    // The bytes a file of fileSize costs once its index (indexBytes) has been fetched: the index
    // and the chunks, or the index and the whole file where the chunks cost no less (they are
    // then declined).
    qint64 cost(qint64 indexBytes, qint64 fileSize) const;
    bool declines(qint64 indexBytes, qint64 fileSize) const { return fetchBytes + indexBytes >= fileSize; }
};
