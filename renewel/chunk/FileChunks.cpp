#include "chunk/FileChunks.h"

#include "chunk/ContentChunker.h"
#include "trust/Sha256.h"

#include <QFile>

Result<FileChunks> chunkDevice(QIODevice& in, const ChunkParams& params, bool hashWhole)
{
    FileChunks result;
    Sha256 whole, one;
    const Status status = forEachChunk(in, params, [&](qint64 offset, QByteArrayView bytes) {
        if (hashWhole)
            whole.update(bytes);
        one.update(bytes);
        result.chunks.append({one.final(), offset, quint32(bytes.size())});
        result.size = offset + bytes.size();
        return Status();
    });
    if (!status)
        return Result<FileChunks>::failure(status.error());
    if (hashWhole)
        result.fileHash = whole.final();
    return result;
}

Result<FileChunks> chunkFile(const QString& path, const ChunkParams& params, bool hashWhole)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return Result<FileChunks>::failure(file.errorString());
    return chunkDevice(file, params, hashWhole);
}
