#pragma once
// The chunk store of an update site, in the folder "chunks" beside update.txt:
//   chunks/<first two hex digits>/<64 hex digits>.zst   a chunk, compressed, named by the SHA-256
//                                                       of its uncompressed bytes
//   chunks/index/<64 hex digits>.cidx                   the chunk index of a file whose content
//                                                       has that SHA-256
// Each object is written once and never changes, for all files and releases. A file's index is
// found from the file's SHA-256 in update.sums, and update.sums lists the index under the name
// above (which no listed path can take: those start with a backslash), so an index is believed
// only through the signed sums. A site without the folder, or a file without an index, is
// fetched whole.
//   chunks/index/<new hex>.from-<old hex>.cidd         a delta from the index of the old content
//                                                       to the new one's (ChunkIndexDelta): not
//                                                       listed, believed through the new index's
//                                                       line only
//   chunks/pack/<64 hex digits>.pack                    the stored (compressed) bytes of every
//                                                       chunk of the index of the content with
//                                                       that SHA-256, back to back in index
//                                                       order: the chunk at place k lies at the
//                                                       sum of the stored lengths before it, so
//                                                       the signed index alone locates it, and a
//                                                       player fetches many chunks in one range
//                                                       request. Optional: a player falls back to
//                                                       the chunk objects where it is missing.

#include <QByteArray>
#include <QByteArrayView>
#include <QString>

namespace ChunkStore {
inline const QString Folder = QStringLiteral("chunks");
// "chunks/index": where indexes and deltas lie on the site.
inline const QString IndexFolder = QStringLiteral("chunks/index");
inline const QString IndexSuffix = QStringLiteral(".cidx");
inline const QString DeltaSuffix = QStringLiteral(".cidd");
inline const QString PackFolder = QStringLiteral("chunks/pack");

// "chunks/ab/ab....zst": the chunk's path on the site, relative, with "/".
QString objectName(QByteArrayView chunkHash);
// "ab....zst": a fetched chunk's file name in a download folder.
QString objectFileName(QByteArrayView chunkHash);
// "chunks/index/<hex>.cidx": the index's path on the site, and its name in update.sums.
QString indexName(QByteArrayView fileHash);
// "<hex>.cidx": the index's file name in the index folder (and among the kept lists).
QString indexFileName(QByteArrayView fileHash);
// "chunks/index/<new hex>.from-<old hex>.cidd": the path on the site of the delta that turns the
// old content's index into the new one's.
QString deltaName(QByteArrayView newFileHash, QByteArrayView oldFileHash);
// "chunks/pack/<hex>.pack": the path on the site of the pack of the content's chunks.
QString packName(QByteArrayView fileHash);
// "<new hex>.from-*.cidd": a name filter for the index folder that matches every delta to the new
// content's index.
QString deltaFilter(QByteArrayView newFileHash);
}  // namespace ChunkStore
