#pragma once
// Which chunks of a new file are already on the disk and which must be fetched. Local chunks
// come from the installed files' chunk lists (FileChunks, cut with the index's sizes); a chunk
// found in any file will do, whatever the file's name.

#include "chunk/ChunkIndex.h"
#include "chunk/FileChunks.h"

#include <QHash>
#include <QString>

struct ChunkSource {
    QString file;
    qint64 offset = 0;
    quint32 length = 0;
};

// Chunk SHA-256 -> a place where its bytes are.
using LocalChunks = QHash<QByteArray, ChunkSource>;

// Adds each chunk of a file (the first place found is kept).
void addLocalChunks(LocalChunks& local, const QString& file, const FileChunks& chunks);

struct FetchPlan {
    QList<ChunkIndexEntry> missing;  // each chunk to fetch once, in the order the file needs them
    qint64 fetchBytes = 0;           // their stored (compressed) lengths added up
    qint64 localBytes = 0;           // bytes of the file that come from local chunks
};

FetchPlan planFetch(const ChunkIndex& index, const LocalChunks& local);
