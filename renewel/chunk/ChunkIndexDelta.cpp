#include "chunk/ChunkIndexDelta.h"

#include "trust/Sha256.h"

#include <QHash>
#include <QtEndian>

namespace {

constexpr QByteArrayView Magic = "IVCHDLT1";
constexpr QByteArrayView IndexMagic = "IVCHIDX1";
constexpr qsizetype HashSize = 32;
// The new index's header after its magic: sizes, file size, file hash, chunk count.
constexpr qsizetype IndexHeaderSize = 3 * 4 + 8 + HashSize + 4;
constexpr qsizetype HeaderSize = 8 + HashSize + IndexHeaderSize;
constexpr qsizetype EntrySize = HashSize + 4 + 4;
// An index of more entries would exceed the largest index a client fetches (256 MiB).
constexpr quint32 MaxChunks = (256 * 1024 * 1024) / EntrySize;

quint32 u32At(QByteArrayView bytes, qsizetype at) { return qFromLittleEndian<quint32>(bytes.data() + at); }

void appendU32(QByteArray& out, quint32 value)
{
    char le[4];
    qToLittleEndian(value, le);
    out.append(le, 4);
}

bool sameEntry(const ChunkIndexEntry& a, const ChunkIndexEntry& b)
{
    return a.hash == b.hash && a.length == b.length && a.storedLength == b.storedLength;
}

}  // namespace

QByteArray makeDelta(const ChunkIndex& from, QByteArrayView fromBytes, const ChunkIndex& to)
{
    const QByteArray toBytes = to.serialize();
    QByteArray out;
    out.append(Magic);
    out.append(Sha256::hash(fromBytes));
    out.append(toBytes.sliced(IndexMagic.size(), IndexHeaderSize));

    QHash<QByteArray, qsizetype> firstAt;
    for (qsizetype i = from.chunks.size() - 1; i >= 0; --i)
        firstAt.insert(from.chunks[i].hash, i);
    qsizetype newRun = 0;  // entries waiting for an 'N' before position i
    const auto flushNew = [&](qsizetype end) {
        if (newRun == 0)
            return;
        out.append('N');
        appendU32(out, quint32(newRun));
        out.append(toBytes.sliced(IndexMagic.size() + IndexHeaderSize + (end - newRun) * EntrySize, newRun * EntrySize));
        newRun = 0;
    };
    // A copy costs 9 bytes, a new entry 40: any run of equal entries is copied.
    for (qsizetype i = 0; i < to.chunks.size();) {
        const auto found = firstAt.constFind(to.chunks[i].hash);
        if (found == firstAt.constEnd() || !sameEntry(from.chunks[*found], to.chunks[i])) {
            ++newRun;
            ++i;
            continue;
        }
        flushNew(i);
        const qsizetype first = *found;
        qsizetype run = 1;
        while (i + run < to.chunks.size() && first + run < from.chunks.size() &&
               sameEntry(from.chunks[first + run], to.chunks[i + run]))
            ++run;
        out.append('C');
        appendU32(out, quint32(first));
        appendU32(out, quint32(run));
        i += run;
    }
    flushNew(to.chunks.size());
    return out;
}

Result<ChunkIndex> applyDelta(const ChunkIndex& from, QByteArrayView fromBytes, QByteArrayView delta)
{
    const auto fail = [](const QString& why) { return Result<ChunkIndex>::failure(why); };
    if (!delta.startsWith(Magic))
        return fail(QStringLiteral("not a chunk index delta"));
    if (delta.size() < HeaderSize)
        return fail(QStringLiteral("cut short in its header"));
    if (delta.sliced(Magic.size(), HashSize) != Sha256::hash(fromBytes))
        return fail(QStringLiteral("made for another index"));
    const qsizetype oldEntries = IndexMagic.size() + IndexHeaderSize;
    if (fromBytes.size() != oldEntries + from.chunks.size() * EntrySize)
        return fail(QStringLiteral("the old index is not the one its bytes hold"));
    const quint32 count = u32At(delta, HeaderSize - 4);
    if (count > MaxChunks)
        return fail(QStringLiteral("%1 chunks is too many").arg(count));

    // The new index's bytes, parsed as any index is: its entries are checked there.
    QByteArray bytes;
    bytes.reserve(oldEntries + qsizetype(qMin<quint64>(count, from.chunks.size() + delta.size() / EntrySize)) * EntrySize);
    bytes.append(IndexMagic);
    bytes.append(delta.sliced(Magic.size() + HashSize, IndexHeaderSize));
    quint64 total = 0;
    for (qsizetype at = HeaderSize; at < delta.size();) {
        const char op = delta[at];
        if (op == 'C') {
            if (delta.size() - at < 9)
                return fail(QStringLiteral("copy cut short at byte %1").arg(at));
            const quint32 first = u32At(delta, at + 1), run = u32At(delta, at + 5);
            if (run == 0 || quint64(first) + run > quint64(from.chunks.size()))
                return fail(QStringLiteral("copy of %1 entries from %2 is outside the old index's %3")
                                .arg(run).arg(first).arg(from.chunks.size()));
            total += run;
            if (total > count)
                return fail(QStringLiteral("more entries than its %1 chunks").arg(count));
            bytes.append(fromBytes.sliced(oldEntries + qsizetype(first) * EntrySize, qsizetype(run) * EntrySize));
            at += 9;
        } else if (op == 'N') {
            if (delta.size() - at < 5)
                return fail(QStringLiteral("new entries cut short at byte %1").arg(at));
            const quint32 run = u32At(delta, at + 1);
            if (run == 0 || quint64(run) * EntrySize > quint64(delta.size() - at - 5))
                return fail(QStringLiteral("%1 new entries cut short at byte %2").arg(run).arg(at));
            total += run;
            if (total > count)
                return fail(QStringLiteral("more entries than its %1 chunks").arg(count));
            bytes.append(delta.sliced(at + 5, qsizetype(run) * EntrySize));
            at += 5 + qsizetype(run) * EntrySize;
        } else {
            return fail(QStringLiteral("unknown operation at byte %1").arg(at));
        }
    }
    if (total != count)
        return fail(QStringLiteral("%1 entries for %2 chunks").arg(total).arg(count));
    return ChunkIndex::parse(bytes);
}
