#pragma once
// The check of what a launcher reads before the lists: update.head must verify with the studio's
// key, name the site's update.txt and update.sums by their SHA-256 and carry the lists' own signed
// timestamp; the compressed copies (update.txt.gz, update.sums.gz) must decompress to the lists.
// A site without a head or without compressed copies is whole: players then read the lists.

#include "verify/SiteCheck.h"

#include <QByteArray>
#include <QString>

#include <optional>

struct HeadCheckInput {
    QString siteDir;
    QByteArray list;  // update.txt and update.sums as the site holds them
    QByteArray sums;
    std::optional<QByteArray> keyLine;        // the public key's line; none: the signature is not checked
    std::optional<qint64> listTimestamp;      // the lists' signed timestamp, when it was verified
    qint64 now = 0;
};

void checkHead(const HeadCheckInput& input, SiteCheck& check);
