#include "chunk/ChunkIndexDelta.h"

#include "chunk/RecordReader.h"
#include "chunk/RecordWriter.h"
#include "trust/Sha256.h"

#include <QHash>

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

bool sameEntry(const ChunkIndexEntry& a, const ChunkIndexEntry& b)
{
    return a.hash == b.hash && a.length == b.length && a.storedLength == b.storedLength;
}

}  // namespace

QByteArray makeDelta(const ChunkIndex& from, QByteArrayView fromBytes, const ChunkIndex& to)
{
    const QByteArray toBytes = to.serialize();
    RecordWriter out;
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
        out.byte('N');
        out.u32(quint32(newRun));
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
        out.byte('C');
        out.u32(quint32(first));
        out.u32(quint32(run));
        i += run;
    }
    flushNew(to.chunks.size());
    return out.take();
}

namespace {

// The most chunks a file of size bytes is cut into: every chunk but the last has at least the
// minimum size.
quint64 mostChunks(quint64 size, quint32 minimum) { return size == 0 ? 0 : size / qMax<quint32>(minimum, 1) + 1; }

// The header of the new index in the delta: sizes, file size, file hash, chunk count; the reason
// when it cannot be the index of a file of fileSize bytes.
Result<quint32> newChunkCount(QByteArrayView header, std::optional<qint64> fileSize)
{
    RecordReader in(header);
    ChunkParams params;
    params.minimum = in.u32();
    params.average = in.u32();
    params.maximum = in.u32();
    const quint64 size = in.u64();
    in.take(HashSize);
    const quint32 count = in.u32();
    if (count > MaxChunks)
        return Result<quint32>::failure(QStringLiteral("%1 chunks is too many").arg(count));
    if (!fileSize)
        return count;
    if (size != quint64(*fileSize))
        return Result<quint32>::failure(QStringLiteral("for a file of %1 bytes, not %2").arg(size).arg(*fileSize));
    if (count > mostChunks(size, params.minimum))
        return Result<quint32>::failure(QStringLiteral("%1 chunks is more than %2 bytes are cut into").arg(count).arg(size));
    return count;
}

}  // namespace

Result<ChunkIndex> applyDelta(const ChunkIndex& from, QByteArrayView fromBytes, QByteArrayView delta,
                              std::optional<qint64> fileSize)
{
    const auto fail = [](const QString& why) { return Result<ChunkIndex>::failure(why); };
    RecordReader in(delta);
    if (!in.expect(Magic))
        return fail(QStringLiteral("not a chunk index delta"));
    if (delta.size() < HeaderSize)
        return fail(QStringLiteral("cut short in its header"));
    if (in.take(HashSize) != Sha256::hash(fromBytes))
        return fail(QStringLiteral("made for another index"));
    const qsizetype oldEntries = IndexMagic.size() + IndexHeaderSize;
    if (fromBytes.size() != oldEntries + from.chunks.size() * EntrySize)
        return fail(QStringLiteral("the old index is not the one its bytes hold"));
    const QByteArrayView header = in.take(IndexHeaderSize);
    const Result<quint32> counted = newChunkCount(header, fileSize);
    if (!counted)
        return fail(counted.error());
    const quint32 count = *counted;

    // The new index's bytes, parsed as any index is: its entries are checked there. They never
    // grow past the count's entries: each operation is checked against it before it is expanded.
    RecordWriter bytes(oldEntries + qsizetype(qMin<quint64>(count, from.chunks.size() + delta.size() / EntrySize)) * EntrySize);
    bytes.append(IndexMagic);
    bytes.append(header);
    quint64 total = 0;
    while (!in.atEnd()) {
        const qsizetype at = in.position();
        const char op = in.byte();
        if (op == 'C') {
            const quint32 first = in.u32(), run = in.u32();
            if (!in.ok())
                return fail(QStringLiteral("copy cut short at byte %1").arg(at));
            if (run == 0 || quint64(first) + run > quint64(from.chunks.size()))
                return fail(QStringLiteral("copy of %1 entries from %2 is outside the old index's %3")
                                .arg(run).arg(first).arg(from.chunks.size()));
            total += run;
            if (total > count)
                return fail(QStringLiteral("more entries than its %1 chunks").arg(count));
            bytes.append(fromBytes.sliced(oldEntries + qsizetype(first) * EntrySize, qsizetype(run) * EntrySize));
        } else if (op == 'N') {
            const quint32 run = in.u32();
            if (!in.ok())
                return fail(QStringLiteral("new entries cut short at byte %1").arg(at));
            if (run == 0 || quint64(run) * EntrySize > quint64(in.remaining()))
                return fail(QStringLiteral("%1 new entries cut short at byte %2").arg(run).arg(at));
            total += run;
            if (total > count)
                return fail(QStringLiteral("more entries than its %1 chunks").arg(count));
            bytes.append(in.take(qsizetype(run) * EntrySize));
        } else {
            return fail(QStringLiteral("unknown operation at byte %1").arg(at));
        }
    }
    if (total != count)
        return fail(QStringLiteral("%1 entries for %2 chunks").arg(total).arg(count));
    return ChunkIndex::parse(bytes.take());
}
