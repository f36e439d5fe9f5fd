#pragma once
// The self-describing head of a binary patch. Every number is little-endian.
//
//   offset  size  field
//   0       8     magic "IVPATCH1"
//   8       1     method: 1 = one zstd frame of the new file, compressed with the old file as its
//                 prefix; 2 = suffix diff: control, diff and extra streams, one zstd frame each
//   9       8     old file's size
//   17      32    old file's SHA-256
//   49      8     new file's size
//   57      32    new file's SHA-256
//   89            method 1: the frame. Method 2: for control, diff and extra in that order, the
//                 frame's size and its decoded size (8 + 8 bytes each), then the three frames.
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
    static constexpr qsizetype StreamTableSize = 48;
    // Larger files are refused before anything is decoded (a damaged size can't ask for more).
    static constexpr quint64 MaxFileSize = quint64(1) << 40;

    enum Stream { Control = 0, Diff = 1, Extra = 2 };

    PatchMethod method = PatchMethod::ZstdPrefix;
    quint64 oldSize = 0;
    QByteArray oldHash;   // 32 bytes
    quint64 newSize = 0;
    QByteArray newHash;   // 32 bytes
    std::array<PatchStream, 3> streams{};   // SuffixDiff only

    // The head's bytes: the fixed part, and the stream table for SuffixDiff.
    QByteArray encode() const;
    qsizetype encodedSize() const;

    // The head at the start of patch, checked against the patch's length.
    static Result<PatchHeader> parse(QByteArrayView patch);
};

// Control bytes a diff of a new file of newSize bytes can need at most: one tuple per new byte
// and one more, each three varints of at most 10 bytes.
quint64 maxControlSize(quint64 newSize);
