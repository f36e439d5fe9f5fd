#pragma once
// update.head: the small file a launcher reads first. Its signed part names the release's lists
// by their SHA-256 in update.sums' own line format ("HEX  update.txt", "HEX  update.sums"); the
// minisign signature of that part follows in the same file (its four lines, "untrusted
// comment:" first), so one request under 1 KB tells whether anything changed.

#include "Result.h"

#include <QByteArray>
#include <QByteArrayView>

struct UpdateHead {
    QByteArray signedPart;
    QByteArray signature;  // a minisign signature file of signedPart
    QByteArray listDigest;  // 32 bytes each, read from signedPart
    QByteArray sumsDigest;

    // The signed part naming the lists by these digests (32 bytes each).
    static QByteArray signedPartFor(const QByteArray& listDigest, const QByteArray& sumsDigest);
    // Splits a head file and reads its digests; the reason when it is not one. The signature is
    // not checked here.
    static Result<UpdateHead> parse(QByteArrayView file);

    // Whether both name the same lists.
    bool sameLists(const UpdateHead& other) const
    {
        return listDigest == other.listDigest && sumsDigest == other.sumsDigest;
    }
};
