#include "chunk/ChunkStore.h"

namespace ChunkStore {

QString objectFileName(QByteArrayView chunkHash)
{
    return QString::fromLatin1(chunkHash.toByteArray().toHex() + ".zst");
}

QString objectName(QByteArrayView chunkHash)
{
    const QString file = objectFileName(chunkHash);
    return Folder + QLatin1Char('/') + file.left(2) + QLatin1Char('/') + file;
}

QString indexName(QByteArrayView fileHash)
{
    return Folder + QStringLiteral("/index/") + QString::fromLatin1(fileHash.toByteArray().toHex()) + QStringLiteral(".cidx");
}

QString deltaName(QByteArrayView newFileHash, QByteArrayView oldFileHash)
{
    return Folder + QStringLiteral("/index/") + QString::fromLatin1(newFileHash.toByteArray().toHex()) + QStringLiteral(".from-") +
           QString::fromLatin1(oldFileHash.toByteArray().toHex()) + QStringLiteral(".cidd");
}

}  // namespace ChunkStore
