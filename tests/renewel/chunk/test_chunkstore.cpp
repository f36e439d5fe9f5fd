// The chunk index format, the store writer, and building a new file from local and fetched
// chunks, on real files in temporary folders.

#include "ChunkTestData.h"
#include "TempDir.h"
#include "chunk/ChunkFolder.h"
#include "chunk/ChunkList.h"
#include "chunk/ChunkStore.h"
#include "chunk/ChunkStoreWriter.h"
#include "chunk/FetchPlan.h"
#include "chunk/FileAssembler.h"
#include "chunk/InstalledCopies.h"
#include "trust/Sha256.h"

#include <QDir>
#include <QFileInfo>
#include <QFile>
#include <QtEndian>

#include <gtest/gtest.h>

#include <functional>
#include <sys/stat.h>

namespace {

const ChunkParams Small = ChunkParams::forAverage(4096);

QByteArray readFile(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("missing");
}

ChunkIndex sampleIndex()
{
    ChunkIndex index;
    index.params = Small;
    index.fileSize = 5000;
    index.fileHash = QByteArray(32, 'f');
    index.chunks = {{QByteArray(32, 'a'), 3000, 1200}, {QByteArray(32, 'b'), 2000, 2000}};
    return index;
}

TEST(ChunkIndex, RoundTripsAndNamesWhatIsMalformed)
{
    const QByteArray good = sampleIndex().serialize();
    const Result<ChunkIndex> parsed = ChunkIndex::parse(good);
    ASSERT_TRUE(parsed) << parsed.error().toStdString();
    EXPECT_EQ(parsed->serialize(), good);
    EXPECT_EQ(parsed->params, Small);
    EXPECT_EQ(parsed->chunks[1].storedLength, 2000u);

    const auto withU32 = [&](qsizetype at, quint32 value) {
        QByteArray bytes = good;
        qToLittleEndian(value, bytes.data() + at);
        return bytes;
    };
    constexpr qsizetype Entries = 64, Chunk1Length = Entries + 32, Chunk1Stored = Chunk1Length + 4;
    const struct {
        QByteArray bytes;
        QString reason;
    } cases[] = {
        {"IVCHIDX2" + good.mid(8), "not a chunk index"},
        {good.left(40), "cut short in its header"},
        {withU32(8, 32), "chunk sizes 32/4096/16384 are not 64 <= minimum < average < maximum <= 8388608"},
        {withU32(12, 3000), "average chunk size 3000 is not a power of two"},
        {good.chopped(1), "79 bytes of entries for 2 chunks"},
        {good + "x", "81 bytes of entries for 2 chunks"},
        {withU32(Entries - 4, 3), "80 bytes of entries for 3 chunks"},
        {withU32(Chunk1Length, 0), "chunk 1: length 0 is not 1 to 16384"},
        {withU32(Chunk1Length, 16385), "chunk 1: length 16385 is not 1 to 16384"},
        {withU32(Chunk1Stored, 0), "chunk 1: stored length 0 is not 1 to zstd's bound for 3000 bytes"},
        {withU32(Chunk1Stored, 4000), "chunk 1: stored length 4000 is not 1 to zstd's bound for 3000 bytes"},
        {withU32(20, 5001), "chunk lengths add up to 5000, not the file's size 5001"},
    };
    for (const auto& c : cases) {
        const Result<ChunkIndex> refused = ChunkIndex::parse(c.bytes);
        EXPECT_FALSE(refused) << c.reason.toStdString();
        EXPECT_EQ(refused.error().toStdString(), c.reason.toStdString());
    }
}

// A kept chunk list says of its file what the file's index says, at 36 bytes a chunk.
TEST(ChunkList, TakesTheIndexsChunksAndRoundTrips)
{
    const ChunkList list = ChunkList::fromIndex(sampleIndex());
    ASSERT_EQ(list.file.chunks.size(), 2);
    EXPECT_EQ(list.file.chunks[1].offset, 3000);
    const QByteArray bytes = list.serialize();
    EXPECT_EQ(bytes.size(), 64 + 2 * 36);
    const Result<ChunkList> back = ChunkList::parse(bytes);
    ASSERT_TRUE(back) << back.error().toStdString();
    EXPECT_EQ(back->params, list.params);
    EXPECT_EQ(back->file.fileHash, list.file.fileHash);
    EXPECT_EQ(back->file.size, 5000);
    EXPECT_EQ(back->file.chunks[1].hash, QByteArray(32, 'b'));
    EXPECT_EQ(back->file.chunks[1].offset, 3000);
    EXPECT_FALSE(ChunkList::parse(bytes.chopped(1)));
    EXPECT_FALSE(ChunkList::parse(sampleIndex().serialize()));
}

TEST(ChunkStore, NamesObjectsAndIndexesByTheirHashes)
{
    const QByteArray hash = QByteArray::fromHex("ab01" + QByteArray(60, '0'));
    EXPECT_EQ(ChunkStore::objectName(hash), "chunks/ab/ab01" + QString(60, '0') + ".zst");
    EXPECT_EQ(ChunkStore::objectFileName(hash), "ab01" + QString(60, '0') + ".zst");
    EXPECT_EQ(ChunkStore::indexName(hash), "chunks/index/ab01" + QString(60, '0') + ".cidx");
}

// A release, its next version with edits, and the store they were published into.
struct Published {
    TempDir dir;
    QByteArray v1 = testContent(2 * 1024 * 1024, 3);
    QByteArray v2;
    StoredFile stored1, stored2;

    Published()
    {
        v2 = v1;
        v2.insert(100, "sixteen bytes!!!");
        v2.replace(1024 * 1024, 4096, testContent(4096, 4));
        ChunkStoreWriter writer(dir.filePath("site"), Small);
        stored1 = writer.addFile(dir.write("release1/game.dat", v1)).value();
        stored2 = writer.addFile(dir.write("release2/game.dat", v2)).value();
    }
    QString site(const QString& name) const { return dir.filePath("site/" + name); }
};

TEST(ChunkStore, WriterStoresEachChunkOnceAndRepairsABadObject)
{
    Published p;
    const ChunkIndex& index = p.stored1.index;
    EXPECT_EQ(index.fileHash, Sha256::hash(p.v1));
    EXPECT_EQ(index.fileSize, p.v1.size());
    EXPECT_EQ(p.stored1.chunksWritten, index.chunks.size());
    EXPECT_EQ(p.stored1.chunksKept, 0);
    for (const ChunkIndexEntry& entry : index.chunks)
        EXPECT_EQ(QFileInfo(p.site(ChunkStore::objectName(entry.hash))).size(), entry.storedLength);
    const QByteArray indexBytes = readFile(p.site(p.stored1.indexName));
    EXPECT_EQ(indexBytes, index.serialize());
    EXPECT_EQ(p.stored1.indexHash, Sha256::hash(indexBytes));

    // The next release writes only the chunks its edits made.
    EXPECT_GE(p.stored2.chunksWritten, 2);
    EXPECT_LE(p.stored2.chunksWritten, 6);
    EXPECT_EQ(p.stored2.chunksWritten + p.stored2.chunksKept, p.stored2.index.chunks.size());

    // An object that is not its chunk (cut short by a crash, say) is written again.
    const QString damaged = p.site(ChunkStore::objectName(index.chunks[3].hash));
    QFile::resize(damaged, 10);
    ChunkStoreWriter writer(p.dir.filePath("site"), Small);
    const Result<StoredFile> again = writer.addFile(p.dir.filePath("release1/game.dat"));
    ASSERT_TRUE(again);
    EXPECT_EQ(again->chunksWritten, 1);
    EXPECT_EQ(QFileInfo(damaged).size(), index.chunks[3].storedLength);
    EXPECT_FALSE(writer.addFile(p.dir.filePath("release1/missing.dat")));

    // Nor is anything but a regular file: a pipe is not waited on, a device not read without end.
    const struct {
        const char* what;
        std::function<bool(const QString&)> make;
    } others[] = {
        {"a pipe", [](const QString& path) { return ::mkfifo(QFile::encodeName(path).constData(), 0600) == 0; }},
        {"a link to /dev/zero", [](const QString& path) { return QFile::link("/dev/zero", path); }},
    };
    for (const auto& other : others) {
        QFile::remove(damaged);
        ASSERT_TRUE(other.make(damaged)) << other.what;
        const Result<StoredFile> replaced = ChunkStoreWriter(p.dir.filePath("site"), Small).addFile(p.dir.filePath("release1/game.dat"));
        ASSERT_TRUE(replaced) << other.what;
        EXPECT_EQ(replaced->chunksWritten, 1) << other.what;
        EXPECT_TRUE(QFileInfo(damaged).isFile() && !QFileInfo(damaged).isSymLink()) << other.what;
        EXPECT_EQ(QFileInfo(damaged).size(), index.chunks[3].storedLength) << other.what;
    }
}

TEST(FileAssembly, NewFileFromInstalledChunksAndFetchedOnesIsTheReleaseByteForByte)
{
    Published p;
    // The installed copy of release 1 under another name, and one unrelated file.
    const QString installed = p.dir.write("game/renamed.dat", p.v1);
    const QString other = p.dir.write("game/other.dat", testContent(100000, 9));
    InstalledCopies local;
    local.add(other, chunkFile(other, Small).value());
    local.add(installed, chunkFile(installed, Small).value());

    const ChunkIndex index = ChunkIndex::parse(readFile(p.site(p.stored2.indexName))).value();
    const FetchPlan plan = planFetch(index, local);
    EXPECT_EQ(plan.missing.size(), p.stored2.chunksWritten);
    EXPECT_LT(plan.fetchBytes, 40000);
    EXPECT_GT(plan.localBytes, p.v2.size() - 40000);

    // Fetching: the plan's chunks from the store into the download folder.
    const QString fetched = p.dir.filePath("game/temp");
    const ChunkFolder folder(fetched);
    QDir().mkpath(fetched);
    qint64 bytes = 0;
    for (const ChunkIndexEntry& entry : plan.missing) {
        const QString to = fetched + "/" + ChunkStore::objectFileName(entry.hash);
        ASSERT_TRUE(QFile::copy(p.site(ChunkStore::objectName(entry.hash)), to));
        bytes += QFileInfo(to).size();
    }
    EXPECT_EQ(bytes, plan.fetchBytes);

    const QString target = fetched + "/game.dat";
    const auto assembled = [&] { return readFile(target); };
    const Status done = assembleFile(index, local, folder, target);
    ASSERT_TRUE(done) << done.error().toStdString();
    EXPECT_TRUE(assembled() == p.v2);

    // A fetched chunk replaced by another chunk of the store is refused; the target stays.
    const QString first = fetched + "/" + ChunkStore::objectFileName(plan.missing[0].hash);
    QFile::remove(first);
    QFile::copy(fetched + "/" + ChunkStore::objectFileName(plan.missing[1].hash), first);
    const Status refused = assembleFile(index, local, folder, target);
    EXPECT_FALSE(refused);
    EXPECT_TRUE(refused.error().startsWith("chunk ")) << refused.error().toStdString();
    EXPECT_TRUE(assembled() == p.v2);

    // A missing chunk is named; an installed file changed since it was chunked is not used.
    QFile::remove(first);
    EXPECT_TRUE(assembleFile(index, local, folder, target).error().contains("not fetched"));
    ASSERT_TRUE(QFile::copy(p.site(ChunkStore::objectName(plan.missing[0].hash)), first));
    QFile changed(installed);
    changed.open(QIODevice::ReadWrite);
    changed.seek(p.v1.size() - 10);
    changed.write("0123456789");
    changed.close();
    QFile::remove(target);
    const Status stale = assembleFile(index, local, folder, target);
    EXPECT_TRUE(stale.error().contains("not fetched")) << stale.error().toStdString();
    EXPECT_FALSE(QFile::exists(target));
}

}  // namespace
