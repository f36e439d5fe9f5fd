// Deltas between chunk indexes: they rebuild the new index exactly, stay small for small
// changes, and a malformed or misapplied delta is refused with a reason; the records' reader.

#include "chunk/ChunkIndexDelta.h"
#include "chunk/ChunkStore.h"
#include "chunk/RecordReader.h"
#include "chunk/RecordWriter.h"
#include "trust/Sha256.h"

#include <QtEndian>

#include <gtest/gtest.h>

namespace {

// An index whose chunks are named by the numbers given: equal numbers, equal entries.
ChunkIndex indexOf(const QList<int>& ids)
{
    ChunkIndex index;
    index.params = ChunkParams::forAverage(4096);
    QByteArray all;
    for (const int id : ids) {
        const quint32 length = 1000 + quint32(id % 997);
        index.chunks.append({Sha256::hash(QByteArray::number(id)), length, length / 2 + 1});
        index.fileSize += length;
        all += QByteArray::number(id) + ',';
    }
    index.fileHash = Sha256::hash(all);
    return index;
}

QList<int> range(int first, int count)
{
    QList<int> ids;
    for (int i = 0; i < count; ++i)
        ids << first + i;
    return ids;
}

}  // namespace

TEST(ChunkIndexDelta, RebuildsTheNewIndexExactlyAndSmallChangesCostLittle)
{
    const QList<int> old = range(0, 300);
    QList<int> inserted = old, middle = old, scattered = old;
    inserted.insert(2, 9000);
    middle[150] = 9001;
    middle[151] = 9002;
    for (int i = 7; i < scattered.size(); i += 20)
        scattered[i] = 10000 + i;
    const struct {
        const char* name;
        QList<int> ids;
        qsizetype maxDelta;
    } cases[] = {
        {"insert near the start", inserted, 96 + 9 + 45 + 9},
        {"change in the middle", middle, 96 + 9 + 85 + 9},
        {"scattered edits", scattered, 96 + 15 * (9 + 45) + 9},
        {"unrelated content", range(5000, 100), 96 + 5 + 100 * 40},
        {"emptied", {}, 96},
    };
    const ChunkIndex from = indexOf(old);
    const QByteArray fromBytes = from.serialize();
    for (const auto& c : cases) {
        const ChunkIndex to = indexOf(c.ids);
        const QByteArray delta = makeDelta(from, fromBytes, to);
        const Result<ChunkIndex> rebuilt = applyDelta(from, fromBytes, delta);
        ASSERT_TRUE(rebuilt) << c.name << ": " << rebuilt.error().toStdString();
        EXPECT_EQ(rebuilt->serialize(), to.serialize()) << c.name;
        EXPECT_LE(delta.size(), c.maxDelta) << c.name;
    }
    EXPECT_EQ(ChunkStore::deltaName(QByteArray(32, '\x01'), QByteArray(32, '\x02')),
              "chunks/index/" + QString(64, '0').replace(QStringLiteral("00"), QStringLiteral("01")) + ".from-" +
                  QString(64, '0').replace(QStringLiteral("00"), QStringLiteral("02")) + ".cidd");
}

TEST(ChunkIndexDelta, RefusesMalformedAndMisappliedDeltas)
{
    const ChunkIndex from = indexOf(range(0, 50));
    const QByteArray fromBytes = from.serialize();
    QList<int> ids = range(0, 50);
    ids[20] = 777;
    const QByteArray good = makeDelta(from, fromBytes, indexOf(ids));  // C 0 20, N 1, C 21 29
    ASSERT_EQ(good[96], 'C');
    const auto withU32 = [&](qsizetype at, quint32 value) {
        QByteArray bytes = good;
        qToLittleEndian(value, bytes.data() + at);
        return bytes;
    };
    const ChunkIndex other = indexOf(range(1, 50));
    const struct {
        const char* name;
        QByteArray delta;
        const ChunkIndex* from = nullptr;
    } cases[] = {
        {"truncated in an entry", good.chopped(12)},
        {"truncated in the header", good.left(60)},
        {"copy out of range", withU32(97, 45)},
        {"copy count of zero", withU32(101, 0)},
        {"more entries than chunks", withU32(92, 49)},
        {"fewer entries than chunks", withU32(92, 51)},
        {"huge chunk count", withU32(92, 0xFFFFFFFF)},
        {"huge new entry count", withU32(96 + 9 + 1, 0x7FFFFFFF)},
        {"trailing bytes", good + 'C'},
        {"trailing operation", good + QByteArray("C\0\0\0\0\1\0\0\0", 9)},
        {"unknown operation", good + 'X'},
        {"file size not the chunks'", withU32(52, 1)},
        {"not a delta", "IVCHIDX1" + good.mid(8)},
        {"made for another old index", good, &other},
    };
    for (const auto& c : cases) {
        const ChunkIndex& base = c.from ? *c.from : from;
        const Result<ChunkIndex> rebuilt = applyDelta(base, base.serialize(), c.delta);
        ASSERT_FALSE(rebuilt) << c.name;
        EXPECT_FALSE(rebuilt.error().isEmpty()) << c.name;
    }
    EXPECT_TRUE(applyDelta(from, fromBytes, good));
}

// An unsigned delta cannot make the client expand an index beyond what the listed file allows:
// the size the list gives the file bounds the chunk count before anything is expanded.
TEST(ChunkIndexDelta, ListedFileSizeBoundsTheRebuiltIndex)
{
    const ChunkIndex from = indexOf(range(0, 50));
    const QByteArray fromBytes = from.serialize();
    const ChunkIndex to = indexOf(range(0, 60));
    const QByteArray good = makeDelta(from, fromBytes, to);
    // The kept index copied a thousand times over: 50,000 entries from a delta of 9 KB.
    const auto bomb = [&](quint64 claimedSize) {
        QByteArray bytes = good.left(96);
        qToLittleEndian(claimedSize, bytes.data() + 52);
        qToLittleEndian(quint32(50 * 1000), bytes.data() + 92);
        for (int i = 0; i < 1000; ++i)
            bytes += QByteArray("C\0\0\0\0\x32\0\0\0", 9);
        return bytes;
    };
    const struct {
        const char* name;
        QByteArray delta;
        std::optional<qint64> listedSize;
        const char* reason;  // empty: rebuilt
    } cases[] = {
        {"the listed size", good, to.fileSize, ""},
        {"no size known", good, std::nullopt, ""},
        {"another size than listed", good, to.fileSize + 1, "for a file of"},
        {"a bomb claiming a huge file", bomb(quint64(from.fileSize) * 1000), to.fileSize, "for a file of"},
        {"a bomb claiming the listed size", bomb(quint64(to.fileSize)), to.fileSize, "more than"},
    };
    for (const auto& c : cases) {
        const Result<ChunkIndex> rebuilt = applyDelta(from, fromBytes, c.delta, c.listedSize);
        if (!*c.reason) {
            ASSERT_TRUE(rebuilt) << c.name << ": " << rebuilt.error().toStdString();
            EXPECT_EQ(rebuilt->serialize(), to.serialize()) << c.name;
        } else {
            ASSERT_FALSE(rebuilt) << c.name;
            EXPECT_TRUE(rebuilt.error().contains(c.reason)) << c.name << ": " << rebuilt.error().toStdString();
        }
    }
}

// The records' reader: little-endian numbers in order, and a read past the end fails for good.
TEST(RecordReader, ReadsInOrderAndStopsAtTheEnd)
{
    RecordWriter out;
    out.append("MAGC");
    out.u32(0x01020304);
    out.u64(0x1122334455667788);
    out.byte('N');
    const QByteArray bytes = out.take();
    ASSERT_EQ(bytes, QByteArray("MAGC\x04\x03\x02\x01\x88\x77\x66\x55\x44\x33\x22\x11N", 17));

    RecordReader in(bytes);
    EXPECT_FALSE(in.expect("MAGX"));
    EXPECT_TRUE(in.expect("MAGC"));
    EXPECT_EQ(in.u32(), 0x01020304u);
    EXPECT_EQ(in.u64(), 0x1122334455667788u);
    EXPECT_EQ(in.byte(), 'N');
    EXPECT_TRUE(in.ok() && in.atEnd());
    EXPECT_EQ(in.u32(), 0u);  // past the end
    EXPECT_FALSE(in.ok());
    EXPECT_TRUE(in.take(0).isEmpty());

    RecordReader shortRead(QByteArrayView("abc"));
    EXPECT_TRUE(shortRead.take(4).isEmpty());
    EXPECT_FALSE(shortRead.ok());
    EXPECT_EQ(shortRead.byte(), '\0');  // failed for good, though a byte remains
}
