#pragma once
// The diff stream is mostly zeros with a changed 32-bit word here and there. It is stored as two
// streams that zstd compresses far better apart than together: the lengths of the zero runs
// (varints) and the words between them. A word is the 4 bytes from a nonzero byte on (fewer at
// the very end), taken as they are, so any bytes split and join again exactly:
//   run0 word0 run1 word1 ... runK   (runK: the zeros after the last word, possibly 0)

#include "patch/VarintReader.h"
#include "patch/ZstdStreamReader.h"

#include <QByteArray>
#include <QByteArrayView>

void splitZeroRuns(QByteArrayView diff, QByteArray& runs, QByteArray& words);

// Gives back the diff stream of size bytes piece by piece from the two streams.
class ZeroRunReader {
public:
    ZeroRunReader(ZstdStreamReader& runs, ZstdStreamReader& words, quint64 size)
        : runs_(runs), words_(words), left_(size)
    {
    }

    Status read(char* into, quint64 length);
    // Every byte was read and both streams end there.
    Status finish();

private:
    Status nextRun();

    VarintReader runs_;
    ZstdStreamReader& words_;
    quint64 left_;               // diff bytes not yet given out
    quint64 zeros_ = 0;          // of the current run
    quint64 word_ = 0;           // bytes of the current word still to give
    bool needRun_ = true;        // the next bytes start with a run
};
