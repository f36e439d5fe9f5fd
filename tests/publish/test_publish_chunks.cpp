// The chunk store renewel-publish keeps beside the site: indexes listed in the signed sums, chunks
// that rebuild each big file, only new chunks written after a change, a killed run's objects taken
// up by the next, verify finding a damaged chunk or index, and push sending chunks before the lists
// and only the new ones, with the delta from the previous release's index.

#include "PublishFixture.h"
#include "RandomBytes.h"
#include "chunk/ChunkCodec.h"
#include "chunk/ChunkIndexDelta.h"
#include "chunk/ChunkStore.h"
#include "patch/PatchName.h"
#include "site/Sums.h"

#include <QSet>


namespace {

using namespace publishtest;

class PublishChunks : public Publish {
protected:
    void SetUp() override
    {
        Publish::SetUp();
        dir.write("release/maps/big.ivm", big);
        dir.write("release/maps/twin.ivm", big);  // the same content: one index
        QThread::msleep(50);  // files written just before a publish are read again next time
    }

    Sums sums() const { return Sums::parse(dir.read("site/update.sums")).value(); }

    // The index update.sums lists for a release file, checked against its line.
    ChunkIndex indexOf(const QString& file)
    {
        const QByteArray digest = Sha256::hash(dir.read("release/" + file));
        const QString name = ChunkStore::indexName(digest);
        const QByteArray bytes = dir.read("site/" + name);
        EXPECT_EQ(sums().digest(name.toLatin1()), Sha256::hash(bytes)) << name.toStdString();
        return ChunkIndex::parse(bytes).value();
    }

    QByteArray rebuild(const ChunkIndex& index)
    {
        ChunkDecompressor decompressor;
        QByteArray file;
        for (const ChunkIndexEntry& entry : index.chunks)
            file += decompressor.decompress(dir.read("site/" + ChunkStore::objectName(entry.hash)), entry).value();
        return file;
    }

    // Changes 4 KiB in the middle of the big file.
    void changeBigFile(unsigned seed = 2)
    {
        big.replace(big.size() / 2, 4096, randomBytes(4096, seed));
        dir.write("release/maps/big.ivm", big);
        QThread::msleep(50);
    }

    QByteArray big = randomBytes(1536 * 1024, 1);
};

QSet<QByteArray> chunkSet(const ChunkIndex& index)
{
    QSet<QByteArray> set;
    for (const ChunkIndexEntry& entry : index.chunks)
        set.insert(entry.hash);
    return set;
}

TEST_F(PublishChunks, BigFilesGetSignedIndexesWhoseChunksRebuildThemAndAChangeWritesOnlyNewChunks)
{
    const RunResult first = publishSigned();
    ASSERT_EQ(first.exitCode, 0) << first.err.toStdString();
    EXPECT_EQ(siteFault(dir, dir.filePath("site")), QString());
    const ChunkIndex index = indexOf("maps/big.ivm");
    EXPECT_EQ(rebuild(index), big);
    EXPECT_EQ(dir.read("site/update.sums").count("  chunks/index/"), 1) << "small files have no index, twins one";
    EXPECT_TRUE(first.out.contains(QByteArray::number(chunkSet(index).size()) + " chunks written")) << first.out.toStdString();
    // One store for all releases, linked from each.
    EXPECT_TRUE(QFileInfo(dir.filePath("site/chunks")).isSymLink());
    EXPECT_EQ(QFileInfo(dir.filePath("site/chunks")).canonicalFilePath(),
              QFileInfo(dir.filePath("site.releases/chunks")).canonicalFilePath());

    changeBigFile();
    const RunResult second = publishSigned();
    ASSERT_EQ(second.exitCode, 0) << second.err.toStdString();
    EXPECT_TRUE(second.out.contains("(signed; 1 files read, ")) << "the twin is not read again";
    const ChunkIndex changed = indexOf("maps/big.ivm");
    EXPECT_EQ(rebuild(changed), big);
    EXPECT_EQ(rebuild(indexOf("maps/twin.ivm")), rebuild(index));
    // The summary names the changed file's route and what it costs.
    const QByteArray patch = dir.read("site/" + patchSiteName(index.fileHash, changed.fileHash));
    EXPECT_TRUE(lines(second.out).contains("renewel-publish:   patch " + QByteArray::number(patch.size()) + " bytes  maps/big.ivm"))
        << second.out.toStdString();
    const qsizetype fresh = (chunkSet(changed) - chunkSet(index)).size();
    EXPECT_GE(fresh, 1);
    EXPECT_LE(fresh, 3);
    EXPECT_TRUE(second.out.contains("; chunk store: " + QByteArray::number(fresh) + " chunks written"))
        << second.out.toStdString();
    // The changed file, and only it, gets the delta from its previous index, which rebuilds the new one.
    const Result<ChunkIndex> rebuilt =
        applyDelta(index, dir.read("site/" + ChunkStore::indexName(index.fileHash)),
                   dir.read("site/" + ChunkStore::deltaName(changed.fileHash, index.fileHash)));
    ASSERT_TRUE(rebuilt) << rebuilt.error().toStdString();
    EXPECT_EQ(rebuilt->serialize(), changed.serialize());
    EXPECT_EQ(QDir(dir.filePath("site/chunks/index")).entryList({"*.cidd"}).size(), 1);

    // A run killed before the switch leaves a usable store, whose objects the next run takes up.
    changeBigFile(3);
    EXPECT_EQ(publishSigned("site", "built").exitCode, -1);
    const RunResult resumed = publishSigned();
    ASSERT_EQ(resumed.exitCode, 0) << resumed.err.toStdString();
    EXPECT_TRUE(resumed.out.contains("; chunk store: 0 chunks written")) << resumed.out.toStdString();
    const ChunkIndex latest = indexOf("maps/big.ivm");
    EXPECT_EQ(rebuild(latest), big);
    EXPECT_EQ(publish({"verify", "site", "--pub", "keys/demo.pub"}, dir.path()).exitCode, 0);

    // A chunk only the latest index names, damaged, its pack gone, and the twin's index, tampered with.
    const QString chunk = "site/" + ChunkStore::objectName(*(chunkSet(latest) - chunkSet(index)).begin());
    QByteArray stored = dir.read(chunk);
    stored[stored.size() / 2] = char(stored[stored.size() / 2] ^ 1);
    dir.write(chunk, stored);
    const QString twinIndex = "site/" + ChunkStore::indexName(Sha256::hash(dir.read("release/maps/twin.ivm")));
    dir.write(twinIndex, dir.read(twinIndex).replace(8, 1, "\x01"));
    const QString pack = "site/" + ChunkStore::packName(latest.fileHash);
    ASSERT_TRUE(QFile::remove(dir.filePath(pack)));
    const RunResult verify = publish({"verify", "site", "--pub", "keys/demo.pub"}, dir.path());
    EXPECT_EQ(verify.exitCode, 1);
    EXPECT_EQ(lines(verify.err), (QList<QByteArray>{
                                     "renewel-publish: " + twinIndex.toUtf8() + ": does not match its checksum in update.sums",
                                     "renewel-publish: " + chunk.toUtf8() + ": SHA-256 differs from the index",
                                     "renewel-publish: " + pack.toUtf8() + ": missing"}))
        << verify.err.toStdString();
}

TEST_F(PublishChunks, PushSendsNewChunksAndIndexesBeforeTheFilesAndListsAndOnlyOnce)
{
    SftpServer origin(dir);
    ASSERT_TRUE(origin.ready());
    const auto push = [&] {
        const RunResult result = publish({"push", "site", "origin:", "--keep", "1"}, dir.path());
        EXPECT_EQ(result.exitCode, 0) << result.err.toStdString();
        QList<QByteArray> sent;
        for (const QByteArray& line : lines(result.out))
            if (line.startsWith("sent "))
                sent << line.mid(5);
        return std::pair{sent, result.out};
    };
    const auto kind = [](const QByteArray& object) {
        if (object.startsWith("chunks/pack/"))
            return 1;
        return object.startsWith("chunks/index/") ? 2 : object.startsWith("chunks/") ? 0 : object.startsWith("update.") ? 4 : 3;
    };

    QFile::remove(dir.filePath("release/maps/twin.ivm"));  // the first index is then the first release's alone
    ASSERT_EQ(publishSigned().exitCode, 0);
    const ChunkIndex index = indexOf("maps/big.ivm");
    const auto [first, firstOut] = push();
    QList<int> kinds;
    for (const QByteArray& object : first)
        kinds << kind(object);
    EXPECT_TRUE(std::is_sorted(kinds.begin(), kinds.end())) << firstOut.toStdString();
    EXPECT_EQ(kinds.count(0), chunkSet(index).size());
    EXPECT_EQ(kinds.count(1), 1);  // the file's pack
    EXPECT_EQ(kinds.count(2), 1);
    const QString indexName = ChunkStore::indexName(index.fileHash);
    EXPECT_EQ(dir.read("origin/" + indexName), dir.read("site/" + indexName));

    changeBigFile();
    ASSERT_EQ(publishSigned().exitCode, 0);
    const ChunkIndex changed = indexOf("maps/big.ivm");
    const auto [second, secondOut] = push();
    QList<QByteArray> expected;
    for (const QByteArray& hash : chunkSet(changed) - chunkSet(index))
        expected << ChunkStore::objectName(hash).toUtf8();
    std::sort(expected.begin(), expected.end());
    QList<QByteArray> sentChunks = second.mid(0, expected.size());
    std::sort(sentChunks.begin(), sentChunks.end());
    EXPECT_EQ(sentChunks, expected) << secondOut.toStdString();
    EXPECT_EQ(second.mid(expected.size()),
              (QList<QByteArray>{ChunkStore::packName(changed.fileHash).toUtf8(), ChunkStore::indexName(changed.fileHash).toUtf8(),
                                 ChunkStore::deltaName(changed.fileHash, index.fileHash).toUtf8(),
                                 patchSiteName(index.fileHash, changed.fileHash).toUtf8(), "maps/big.ivm",
                                 "update.sums.minisig", "update.sums.gz", "update.sums", "update.txt.gz", "update.txt",
                                 "update.head"}));

    // The first release's index and the chunks only it named go after the grace.
    const auto [third, thirdOut] = push();
    EXPECT_EQ(third, QList<QByteArray>());
    EXPECT_TRUE(thirdOut.contains("deleted " + indexName.toUtf8() + '\n')) << thirdOut.toStdString();
    EXPECT_TRUE(thirdOut.contains("deleted " + ChunkStore::packName(index.fileHash).toUtf8() + '\n'));
    EXPECT_EQ(siteFault(dir, origin.root()), QString());
}

}  // namespace
