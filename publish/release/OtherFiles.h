#pragma once
// The files of the current site that are not part of a release (its news page, say): they carry
// over to each new release. Whatever the current list names, and the list files themselves, belong
// to the release being replaced and do not, nor does the release's link to the chunk store.

#include "release/ReleaseFiles.h"

#include <QByteArray>
#include <QList>

// Paths below the site folder ("/" separated bytes) of every file or link that carries over.
// Throws PublishError when one of them and a release file would need the same path as a file and
// as a folder, or when the site can't be read.
QList<QByteArray> otherSiteFiles(const QString& current, const QList<ReleaseFile>& release);
