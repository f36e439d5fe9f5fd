#pragma once
// The names of the files an update site holds beside the listed files, and of the files renewel
// keeps in the installation it updates. Each name is written here once.

#include <QByteArray>
#include <QString>

namespace SiteFile {
inline const QString List = QStringLiteral("update.txt");              // the update list
inline const QString Sums = QStringLiteral("update.sums");             // SHA-256 of the list and each file
inline const QString Signature = QStringLiteral("update.sums.minisig"); // minisign signature of the sums
inline const QString Head = QStringLiteral("update.head");             // the lists' digests, signed, read first
// The lists compressed, for a server that sends them so where asked (nginx's gzip_static).
inline QString compressed(const QString& list) { return list + QStringLiteral(".gz"); }
}  // namespace SiteFile

namespace InstallationFile {
inline const QString Language = QStringLiteral("renewel.lng");  // texts, site address, key
inline const QString Stamp = QStringLiteral("renewel.stamp");   // timestamp of the last accepted list
inline const QString Lock = QStringLiteral("renewel.lock");     // one run per installation
inline const QString State = QStringLiteral("renewel.state");   // what renewel installed and hashed
inline const QString Head = QStringLiteral("renewel.head");     // the site's head of the installed release
inline const QString DownloadFolder = QStringLiteral("temp");   // downloads before they are installed
inline const QString ChunkLists = QStringLiteral("renewel.chunks");  // installed files' chunk lists
}  // namespace InstallationFile

// Whether a listed path ("\update.txt", "\RENEWEL.STAMP") names one of the site's own files or
// one of renewel's own files in the installation (or anything in its folder of chunk lists), in
// any letter case: a list naming one would replace the list itself, or renewel's key, site
// address, replay protection, lock or records.
bool IsReservedListedPath(const QByteArray& listed);
