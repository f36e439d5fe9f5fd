#pragma once
// Which chunks of a new file are already on the disk and which must be fetched: a chunk is on the
// disk when an installed file was listed with it (InstalledCopies) or a fetched copy of it is kept
// in the download folder (ChunkFolder). Nothing is read or fetched to decide; the chunks are
// checked when they are used.

#include "chunk/ChunkIndex.h"

#include <QList>

class ChunkFolder;
class InstalledCopies;

struct FetchPlan {
    QList<ChunkIndexEntry> missing;  // each chunk to fetch once, in the order the file needs them
    qint64 fetchBytes = 0;           // their stored (compressed) lengths added up
    QList<QByteArray> kept;          // chunks the download folder already holds, each once
    qint64 localBytes = 0;           // bytes of the file that come from installed files
};

// folder may be null: only the installed files count.
FetchPlan planFetch(const ChunkIndex& index, const InstalledCopies& installed, const ChunkFolder* folder = nullptr);
