#pragma once
// Where a patch lives in the chunk store: named by the content it turns into what, so a name
// never changes meaning and the patch can be served as immutable.

#include <QByteArray>
#include <QString>

// "patches/<old SHA-256 hex>-<new SHA-256 hex>.patch" for two 32-byte SHA-256 digests.
QString patchFileName(const QByteArray& oldHash, const QByteArray& newHash);

// "chunks/patches/<old hex>-<new hex>.patch": where the patch lies on an update site (in its chunk
// store), and its name in update.sums.
QString patchSiteName(const QByteArray& oldHash, const QByteArray& newHash);
