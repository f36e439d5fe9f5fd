#pragma once
// The self-describing head of a binary patch. Every number is little-endian.
//
//   offset  size  field
//   0       8     magic "IVPATCH1"
//   8       1     method: 1 = one zstd frame of the new file, compressed with the old file as its
//                 prefix; 2 = suffix diff: control, zero-run, word and extra streams, one zstd
//                 frame each
//   9       8     old file's size
//   17      32    old file's SHA-256
//   49      8     new file's size
//   57      32    new file's SHA-256
//   89            method 1: the frame. Method 2: for control, zero runs, words and extra in that
//                 order, the frame's size and its decoded size (8 + 8 bytes each), then the four
//                 frames. The diff stream (SuffixDiff.h) is split into zero runs and words
//                 (ZeroRuns.h); its length is the new size less the extra bytes.
//
// A patch applies only to the old file whose size and hash it names, and its result is kept only
// when it has the new size and hash. parse() refuses a head whose sizes don't add up, so nothing
// later decodes more than the head declares.

#include "Result.h"

#include <QByteArray>
#include <QByteArrayView>

#include <array>

enum class PatchMethod : quint8 { ZstdPrefix = 1, SuffixDiff = 2 };

struct PatchStream {
    quint64 packed = 0;   // bytes of its zstd frame in the patch
    quint64 size = 0;     // bytes it decodes to
};

struct PatchHeader {
    static constexpr qsizetype FixedSize = 89;
    static constexpr qsizetype StreamTableSize = 64;
    // Larger files are refused before anything is decoded (a damaged size can't ask for more).
    static constexpr quint64 MaxFileSize = quint64(1) << 40;

    enum Stream { Control = 0, ZeroRuns = 1, Words = 2, Extra = 3 };
    static constexpr int StreamCount = 4;

    PatchMethod method = PatchMethod::ZstdPrefix;
    quint64 oldSize = 0;
    QByteArray oldHash;   // 32 bytes
    quint64 newSize = 0;
    QByteArray newHash;   // 32 bytes
    std::array<PatchStream, StreamCount> streams{};   // SuffixDiff only

    // The head's bytes: the fixed fields, and the stream table for SuffixDiff.
    QByteArray encode() const;
    qsizetype encodedSize() const;

    // The head at the start of patch, checked against the patch's length.
    static Result<PatchHeader> parse(QByteArrayView patch);
};

// Varint bytes that count items, one per byte of a stream of size bytes and one more, can take:
// at most 10 each. (A control tuple is three varints, a zero run one.)
quint64 maxVarintBytes(quint64 size);
