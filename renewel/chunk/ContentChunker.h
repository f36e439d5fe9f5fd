#pragma once
// Content-defined chunking: a gear rolling hash over the bytes (each byte shifts the hash left
// and adds a fixed random value for that byte), so the hash depends only on the last 64 bytes
// and a boundary found by it moves with the content. An insertion or an edit therefore changes
// only the chunks around it. Normalized chunking: before the average length the hash must meet
// a stricter mask, after it a looser one, which keeps chunk lengths close to the average. The
// byte values come from a fixed seed, so every platform cuts a file the same way.

#include "chunk/ChunkParams.h"

#include <QByteArrayView>
#include <QString>

#include <functional>

class QIODevice;

class ContentChunker {
public:
    // params must pass check().
    explicit ContentChunker(const ChunkParams& params);

    // The length of the chunk that starts at data[0], given size bytes: at least the maximum
    // chunk length, or everything up to the end of the stream.
    qsizetype cut(const uchar* data, qsizetype size) const;

private:
    ChunkParams params_;
    quint64 strictMask_;
    quint64 looseMask_;
};

// Called for each chunk in order: its offset in the stream and its bytes (valid during the call).
using ChunkVisitor = std::function<Status(qint64 offset, QByteArrayView bytes)>;

// Reads the device to its end and hands over each chunk; memory stays a few maximum chunk
// lengths whatever the stream's size. Stops at the first failure of a read or of the visitor.
Status forEachChunk(QIODevice& in, const ChunkParams& params, const ChunkVisitor& visit);
// The same over an open file descriptor, read from its current position (left open).
Status forEachChunk(int fd, const ChunkParams& params, const ChunkVisitor& visit);
