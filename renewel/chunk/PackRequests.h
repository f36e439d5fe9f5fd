#pragma once
// The range requests that fetch chunks from a file's pack (ChunkStore::packName): the chunk at
// place k of the index lies at the stored lengths of the chunks before it added up. Neighbouring
// chunks share one range, also across a gap small enough that fetching it costs less than a range
// of its own; a request carries several ranges (a Range header of a few KiB at most) and up to
// 1 GiB, so that a first install makes one request per file (requests are what a CDN bills; a
// request cut off costs nothing, as the chunks that arrived stay in the file being built).

#include "chunk/ChunkIndex.h"

#include <QByteArray>
#include <QList>

struct PackRequest {
    QByteArray ranges;        // the Range header's value: "0-99,200-299"
    qint64 bytes = 0;         // what its ranges download, gaps included
    QList<qsizetype> chunks;  // the places in the index of the chunks it fetches
};

struct PackLimits {
    static constexpr int MaxRanges = 150;  // a Range header under 4 KiB
    int ranges = MaxRanges;                // per request: 1 where a server takes single ranges only
    qint64 gap = 16 * 1024;                // fetched rather than starting a new range
    qint64 bytes = qint64(1) << 30;        // per request
};

// Where each chunk of the index lies in the pack; one more entry last: the pack's size.
QList<qint64> packOffsets(const ChunkIndex& index);

// The requests for the chunks at these places (in index order).
QList<PackRequest> planPackRequests(const QList<qint64>& offsets, const QList<qsizetype>& places,
                                    const PackLimits& limits = {});

// What the requests download.
qint64 packBytes(const QList<PackRequest>& requests);
