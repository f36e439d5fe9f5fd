#pragma once
// Making a binary patch from an old file to a new one (both in memory). Two ways are tried and
// the smaller patch is kept:
//   ZstdPrefix  the new file compressed by zstd (level 19, long distance matching) with the old
//               file as its prefix: good at moved and repeated content;
//   SuffixDiff  suffixDiff()'s streams (the diff split into zero runs and words), each
//               compressed by zstd at its highest level: good at executables, where a
//               rebuild shifts addresses everywhere.
// The layout is PatchHeader's. Making takes the old file's suffix array (4 bytes per old byte)
// and the diff's streams (about the new file's size) besides the two files.

#include "Result.h"

#include <QByteArray>
#include <QByteArrayView>

// The patch, or why none can be made (a file beyond PatchHeader::MaxFileSize, zstd failing, no
// memory).
Result<QByteArray> makePatch(QByteArrayView old, QByteArrayView updated);
