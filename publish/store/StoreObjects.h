#pragma once
// The chunk store objects a release needs on its remote: the chunks its listed indexes name and
// the indexes. Store objects never change under their names, so each carries a digest without
// being read: a chunk the SHA-256 its name holds, an index or a patch its SHA-256 in update.sums. The deltas
// to the listed indexes (written by publish from the previous release's) are not listed: each
// carries the SHA-256 of its bytes. A pack is made of what its index names, so it carries its
// index's SHA-256.

#include <QHash>
#include <QString>
#include <QStringList>

struct StoreObjects {
    QStringList chunks;   // "chunks/ab/ab....zst", each once
    QStringList indexes;  // "chunks/index/....cidx"
    QStringList deltas;   // "chunks/index/<new>.from-<old>.cidd"
    QStringList packs;    // "chunks/pack/<hex>.pack" of the listed indexes that have one
    QStringList patches;  // "chunks/patches/<old>-<new>.patch", each listed in update.sums
    QHash<QString, QByteArray> digests;
};

// Throws PublishError when an index update.sums lists is not the one it lists.
StoreObjects storeObjectsOf(const QString& release);
