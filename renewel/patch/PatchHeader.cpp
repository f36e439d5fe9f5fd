#include "patch/PatchHeader.h"

#include <QtEndian>

namespace {

const QByteArray Magic = QByteArrayLiteral("IVPATCH1");
constexpr qsizetype HashSize = 32;

void appendU64(QByteArray& to, quint64 value)
{
    char bytes[8];
    qToLittleEndian(value, bytes);
    to.append(bytes, 8);
}

quint64 u64At(QByteArrayView from, qsizetype offset)
{
    return qFromLittleEndian<quint64>(from.data() + offset);
}

Result<PatchHeader> failure(const QString& why) { return Result<PatchHeader>::failure(why); }

// The stream table's sizes against the new size and the bytes the patch holds after the head.
QString streamTableProblem(const PatchHeader& h, quint64 framesBytes)
{
    quint64 packed = 0;
    for (const PatchStream& s : h.streams) {
        if (s.packed > framesBytes - packed)
            return QStringLiteral("a stream runs past the end of the patch");
        packed += s.packed;
    }
    if (packed != framesBytes)
        return QStringLiteral("%1 bytes after the streams").arg(framesBytes - packed);
    const quint64 extra = h.streams[PatchHeader::Extra].size;
    if (extra > h.newSize)
        return QStringLiteral("the extra stream is larger than the new file");
    const quint64 diff = h.newSize - extra;
    if (h.streams[PatchHeader::Words].size > diff || h.streams[PatchHeader::ZeroRuns].size > maxVarintBytes(diff))
        return QStringLiteral("the diff's streams are larger than the diff can need");
    if (h.streams[PatchHeader::Control].size > 3 * maxVarintBytes(h.newSize))
        return QStringLiteral("the control stream is larger than a diff can need");
    return {};
}

}  // namespace

quint64 maxVarintBytes(quint64 size) { return (size + 1) * 10; }

qsizetype PatchHeader::encodedSize() const
{
    return FixedSize + (method == PatchMethod::SuffixDiff ? StreamTableSize : 0);
}

QByteArray PatchHeader::encode() const
{
    QByteArray out = Magic;
    out.append(char(method));
    appendU64(out, oldSize);
    out.append(oldHash);
    appendU64(out, newSize);
    out.append(newHash);
    if (method == PatchMethod::SuffixDiff) {
        for (const PatchStream& s : streams) {
            appendU64(out, s.packed);
            appendU64(out, s.size);
        }
    }
    return out;
}

Result<PatchHeader> PatchHeader::parse(QByteArrayView patch)
{
    if (patch.size() < FixedSize)
        return failure(QStringLiteral("truncated: %1 bytes, shorter than a patch's head").arg(patch.size()));
    if (patch.first(Magic.size()) != Magic)
        return failure(QStringLiteral("not a patch (wrong magic)"));
    PatchHeader h;
    const quint8 method = quint8(patch[8]);
    if (method != quint8(PatchMethod::ZstdPrefix) && method != quint8(PatchMethod::SuffixDiff))
        return failure(QStringLiteral("unknown patch method %1").arg(method));
    h.method = PatchMethod(method);
    h.oldSize = u64At(patch, 9);
    h.oldHash = patch.sliced(17, HashSize).toByteArray();
    h.newSize = u64At(patch, 49);
    h.newHash = patch.sliced(57, HashSize).toByteArray();
    if (h.oldSize > MaxFileSize || h.newSize > MaxFileSize)
        return failure(QStringLiteral("declares a file larger than %1 bytes").arg(MaxFileSize));
    if (h.method == PatchMethod::ZstdPrefix)
        return h;
    if (patch.size() < FixedSize + StreamTableSize)
        return failure(QStringLiteral("truncated in the stream table"));
    for (int i = 0; i < StreamCount; ++i) {
        h.streams[size_t(i)].packed = u64At(patch, FixedSize + 16 * i);
        h.streams[size_t(i)].size = u64At(patch, FixedSize + 16 * i + 8);
    }
    const QString problem = streamTableProblem(h, quint64(patch.size() - FixedSize - StreamTableSize));
    if (!problem.isEmpty())
        return failure(problem);
    return h;
}
