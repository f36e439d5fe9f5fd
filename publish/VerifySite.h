#pragma once
// The check of a published site as a player's updater would make it, file by file: the signature
// of update.sums with the studio's public key (its trusted comment's timestamp and expiry
// included), update.txt against its checksum, every listed file's size and SHA-256, and the chunk
// store (see VerifyChunks). Every problem is reported, not only the first.

#include <QByteArray>
#include <QList>
#include <QString>

struct SiteProblem {
    QByteArray subject;  // the file (or the site's list) concerned
    QString reason;
};

struct SiteCheck {
    QList<SiteProblem> problems;
    int files = 0;  // listed files checked
    qint64 bytes = 0;
    int indexes = 0;    // chunk indexes checked
    qint64 chunks = 0;  // chunks checked
};

// publicKeyFile: a minisign .pub file; empty checks the checksums without a signature.
SiteCheck verifySite(const QString& siteDir, const QString& publicKeyFile, qint64 now);
