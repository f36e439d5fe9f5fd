#pragma once
// Applies a patch (PatchHeader's layout) to the old file's bytes, writing the new file to a
// device as it is made. Before anything is written the old bytes must have the size and SHA-256
// the patch names; every length and move the patch asks for is checked against the old and new
// sizes, no stream decodes past its declared size, and the result must have the new SHA-256.
// Memory besides the two inputs (mapped by the caller, so the system pages them in and out): a
// 64 KiB write buffer, 4 KiB for each stream of varints, and one zstd decoder per stream (four
// at most), each holding at most min(the size its stream decodes to, 128 MiB) and a few 128 KiB
// blocks.

#include "patch/PatchHeader.h"
#include "patch/ZstdStreamReader.h"

#include "Result.h"
#include "trust/Sha256.h"

#include <QByteArrayView>
#include <QIODevice>

#include <vector>

struct ControlTuple;
class ZeroRunReader;

class PatchApplier {
public:
    PatchApplier(QByteArrayView old, QByteArrayView patch) : old_(old), patch_(patch) {}

    // The new file into out (open for writing), or why the patch does not give it; out may hold
    // the first bytes of a result when this fails.
    Status writeTo(QIODevice& out);

private:
    Status checkOld() const;
    Status applyPrefix();
    Status applyDiff();
    Status startStreams(ZstdStreamReader (&streams)[PatchHeader::StreamCount]);
    Status step(const ControlTuple& tuple, ZeroRunReader& diff, ZstdStreamReader& extra);
    Status copyStream(ZstdStreamReader& stream, quint64 length);
    Status copyDiff(ZeroRunReader& diff, quint64 length);
    Status put(const char* data, qint64 length);

    QByteArrayView old_;
    QByteArrayView patch_;
    PatchHeader header_;
    QIODevice* out_ = nullptr;
    Sha256 newHash_;
    quint64 newPos_ = 0;
    quint64 oldPos_ = 0;
    std::vector<char> buffer_;
};
