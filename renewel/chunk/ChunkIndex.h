#pragma once
// A file's chunk index, as the update site holds it: which chunks, in order, make up the file.
// Binary, little-endian, because an update fetches it whole and 64 hex digits per chunk would
// double its size:
//   8 bytes   "IVCHIDX1"
//   3 x u32   chunk sizes the file was cut with: minimum, average, maximum
//   u64       the file's size
//   32 bytes  the file's SHA-256
//   u32       chunk count
//   per chunk 32 bytes SHA-256 of the chunk, u32 its length, u32 its compressed (stored) length
// Nothing may follow. The lengths add up to the file's size; each is 1 to the maximum, and each
// stored length 1 to zstd's bound for its length.

#include "chunk/ChunkParams.h"

#include <QByteArray>
#include <QByteArrayView>
#include <QList>

struct ChunkIndexEntry {
    QByteArray hash;  // SHA-256 of the uncompressed chunk, 32 bytes
    quint32 length = 0;
    quint32 storedLength = 0;
};

struct ChunkIndex {
    ChunkParams params;
    qint64 fileSize = 0;
    QByteArray fileHash;
    QList<ChunkIndexEntry> chunks;

    // The reason ("chunk 3: length 0") when the bytes are not a well-formed index.
    static Result<ChunkIndex> parse(QByteArrayView bytes);
    QByteArray serialize() const;
    // Where each chunk starts when the chunks lie one after another with the given length (length:
    // in the file; storedLength: in the pack); one more entry last: where the last one ends.
    QList<qint64> offsets(quint32 ChunkIndexEntry::*length) const;
};
