#pragma once
// The chunks of one file, each by its SHA-256, with the whole file's SHA-256 and size: what
// renewel keeps for an installed file to find chunks it already has, and what renewel-publish
// starts from.

#include "chunk/ChunkParams.h"

#include <QByteArray>
#include <QList>
#include <QString>

class QIODevice;

struct FileChunk {
    QByteArray hash;  // SHA-256 of the chunk's bytes, 32 bytes
    qint64 offset = 0;
    quint32 length = 0;
};

struct FileChunks {
    QList<FileChunk> chunks;
    QByteArray fileHash;  // SHA-256 of the whole stream, 32 bytes
    qint64 size = 0;
};

// Cuts the stream (to its end) or the file by params and hashes each chunk and, unless the caller
// knows it already (hashWhole false: fileHash stays empty), the whole.
Result<FileChunks> chunkDevice(QIODevice& in, const ChunkParams& params, bool hashWhole = true);
Result<FileChunks> chunkFile(const QString& path, const ChunkParams& params, bool hashWhole = true);
