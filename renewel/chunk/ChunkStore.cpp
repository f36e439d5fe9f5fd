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

namespace {
QString hex(QByteArrayView hash) { return QString::fromLatin1(hash.toByteArray().toHex()); }
}  // namespace

QString indexFileName(QByteArrayView fileHash) { return hex(fileHash) + IndexSuffix; }

QString indexName(QByteArrayView fileHash) { return IndexFolder + QLatin1Char('/') + indexFileName(fileHash); }

QString deltaName(QByteArrayView newFileHash, QByteArrayView oldFileHash)
{
    return IndexFolder + QLatin1Char('/') + hex(newFileHash) + QStringLiteral(".from-") + hex(oldFileHash) + DeltaSuffix;
}

QString packName(QByteArrayView fileHash) { return PackFolder + QLatin1Char('/') + hex(fileHash) + QStringLiteral(".pack"); }

QString deltaFilter(QByteArrayView newFileHash) { return hex(newFileHash) + QStringLiteral(".from-*") + DeltaSuffix; }

}  // namespace ChunkStore
