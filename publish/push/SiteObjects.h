#pragma once
// The objects of a published release as a push sends them: every file of the site (the files its
// folders and links lead to) except the chunk store, each with the SHA-256 of its bytes.

#include <QByteArray>
#include <QHash>
#include <QString>
#include <QStringList>

// Relative paths of the release's objects; the chunk store's link is left out (a release needs
// only what its indexes name: see StoreObjects).
QStringList objectsOf(const QString& release);
// The SHA-256 of each object: a listed file's from update.sums (the release was published with
// those bytes), any other file's (the lists, a news page) read from the file. Throws PublishError.
QHash<QString, QByteArray> digestsOf(const QString& release, const QStringList& objects);
