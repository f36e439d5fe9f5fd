#pragma once
// Adds files to a chunk store in a site folder: what renewel-publish runs on each released file.
// Each chunk not yet in the store is compressed and written through a temporary file and a
// rename; a chunk already there is checked (decompressed, hashed) and kept, or written again
// when it is not the chunk its name says. The file's index is written the same way, once the
// chunks it names are on the disk. writePack adds the index's pack (ChunkStore::packName) from
// the chunk objects.

#include "chunk/ChunkCodec.h"
#include "chunk/ChunkIndex.h"

#include <QSet>
#include <QString>

struct StoredFile {
    ChunkIndex index;
    QString indexName;     // ChunkStore::indexName: for update.sums, with the index's SHA-256
    QByteArray indexHash;  // SHA-256 of the index as written
    qint64 chunksWritten = 0;
    qint64 bytesWritten = 0;  // compressed bytes of the chunks written
    qint64 chunksKept = 0;    // already in the store
};

class ChunkStoreWriter {
public:
    // siteFolder holds (or will hold) the "chunks" folder.
    ChunkStoreWriter(QString siteFolder, ChunkParams params, int level = ChunkCompressor::DefaultLevel);

    // The reason when the file can't be read or the store can't be written.
    Result<StoredFile> addFile(const QString& path);
    // Writes the pack of the index's chunks from the chunk objects in the store (each must be
    // there at its stored length); a pack already there at the stored lengths' total is kept.
    Status writePack(const ChunkIndex& index);

private:
    Result<quint32> storeChunk(QByteArrayView chunk, const QByteArray& hash, StoredFile& stats);

    QString siteFolder_;
    ChunkParams params_;
    ChunkCompressor compressor_;
    ChunkDecompressor decompressor_;
    QSet<QString> folders_;  // made already
};
