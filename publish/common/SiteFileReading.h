#pragma once
// Reading the files of a site and its store. Why one could not be opened, as verify and publish name it: "missing"
// when nothing is there, else the platform's reason ("not a regular file", "Permission denied").

#include "platform/RegularFile.h"

#include <QString>

// What the tool reads whole (lists, keys, indexes, deltas) is far smaller than this.
constexpr qint64 SiteFileLimit = qint64(1) << 30;

QString openFailure(const RegularFile& file);

// A file of a site or a store: opened as a regular file without blocking, a link followed (the
// site itself and its "chunks" are links).
RegularFile openSiteFile(const QString& path);
// Its whole bytes, at most limit of them; the reason as openFailure gives it.
Result<QByteArray> readSiteFile(const QString& path, qint64 limit);
