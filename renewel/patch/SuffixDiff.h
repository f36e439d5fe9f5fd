#pragma once
// A diff aimed at executables, where a rebuild changes a little everywhere (addresses and offsets
// shift) but long stretches still line up with the old file once a few bytes are allowed to
// differ. The new file is covered by stretches aligned with the old file, found through the old
// file's suffix array and extended forwards and backwards while at least half their bytes agree;
// an aligned stretch is stored as its difference from the old bytes (WordDiff.h: mostly zeros,
// which compress to almost nothing), what lies between stretches as extra bytes.

#include <QByteArray>
#include <QByteArrayView>

struct DiffStreams {
    QByteArray control;   // ControlTuple varints
    QByteArray diff;      // appendWordDiff() of every aligned stretch, one byte per new byte
    QByteArray extra;     // new bytes taken as they are
};

// old must be smaller than SuffixMatcher::MaxOldSize.
DiffStreams suffixDiff(QByteArrayView old, QByteArrayView updated);
