// Updates from the site's chunk store, served by nginx: what is fetched (counted in nginx's access
// log), what is built, and what a refused chunk or a run cut off leaves.

#include "UpdateFixture.h"

#include "../../chunk/ChunkTestData.h"
#include "NginxServer.h"
#include "chunk/ChunkCodec.h"
#include "chunk/ChunkIndexDelta.h"
#include "chunk/ChunkStore.h"
#include "chunk/ChunkStoreWriter.h"
#include "chunk/FileChunks.h"
#include "chunk/PackRequests.h"
#include "site/SiteFiles.h"
#include "site/Sums.h"
#include "trust/Sha256.h"

#include <QBuffer>
#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <filesystem>
#include <functional>
#include <map>
#include <set>
#include <string>
#include <utility>

namespace {

const ChunkParams Params = ChunkParams::forAverage(16384);
using Uris = std::set<std::string>;  // readable when a comparison fails

Uris uris(const QList<QByteArray>& list)
{
    Uris set;
    for (const QByteArray& uri : list)
        set.insert(uri.toStdString());
    return set;
}
const QByteArray Big = "\\data\\big.dat";

class ChunkUpdates : public UpdateFixture {
protected:
    void SetUp() override
    {
        UpdateFixture::SetUp();
        NginxServer::Options options;
        options.accessLog = true;
        nginx = std::make_unique<NginxServer>(site.path(), options);
        if (!nginx->isRunning())
            GTEST_SKIP() << "nginx not available: " << nginx->error().toStdString();
        useSite(nginx->url("/").toLatin1());
    }

    // The files, each with its index in the store, and update.txt and update.sums listing them.
    void publishRelease(const QList<std::pair<QByteArray, QByteArray>>& files, const ChunkParams& params = Params,
                        bool packs = false)
    {
        ChunkStoreWriter writer(site.path(), params);
        QList<QByteArray> lines;
        QByteArray sums;
        for (const auto& [listed, bytes] : files) {
            const QString file = site.write(QString::fromLatin1(listed.mid(1)).replace('\\', '/'), bytes);
            const Result<StoredFile> stored = writer.addFile(file);
            ASSERT_TRUE(stored) << stored.error().toStdString();
            if (packs) {
                ASSERT_TRUE(writer.writePack(stored->index));
            }
            lines << listed << QByteArray::number(bytes.size());
            sums += Sums::formatLine(Sha256::hash(bytes), listed);
            sums += Sums::formatLine(stored->indexHash, stored->indexName.toLatin1());
            indexes[bytes] = stored->index;
        }
        publishList(lines);
        site.write("update.sums", Sums::formatLine(Sha256::hash(site.read("update.txt")), "update.txt") + sums);
    }

    // The site paths of the chunks of `to` that `from` lacks.
    Uris newChunks(const QByteArray& from, const QByteArray& to) const
    {
        QBuffer buffer;
        buffer.setData(from);
        buffer.open(QIODevice::ReadOnly);
        QSet<QByteArray> have;
        const FileChunks chunks = chunkDevice(buffer, Params).value();
        for (const FileChunk& chunk : chunks.chunks)
            have.insert(chunk.hash);
        Uris fetch;
        for (const ChunkIndexEntry& entry : indexes.value(to).chunks)
            if (!have.contains(entry.hash))
                fetch.insert(("/" + ChunkStore::objectName(entry.hash)).toStdString());
        return fetch;
    }

    // The requests nginx answered with the status since the last call: chunks, and everything else.
    std::pair<QList<QByteArray>, QList<QByteArray>> requestsSince(const QByteArray& status = "200")
    {
        const QList<QByteArray> log = nginx->accessLog();
        std::pair<QList<QByteArray>, QList<QByteArray>> found;
        for (const QByteArray& line : log.mid(seen)) {
            const QList<QByteArray> fields = line.split(' ');
            if (fields.value(3) != status)
                continue;
            const QByteArray uri = fields.value(2);
            (uri.startsWith("/chunks/") && !uri.startsWith("/chunks/index/") ? found.first : found.second) << uri;
        }
        seen = log.size();
        return found;
    }

    QSet<QString> keptLists() const
    {
        const QStringList names = QDir(root.filePath("game/renewel.chunks")).entryList(QDir::Files);
        return {names.begin(), names.end()};
    }

    std::unique_ptr<NginxServer> nginx;
    QHash<QByteArray, ChunkIndex> indexes;  // by content
    qsizetype seen = 0;
};

QByteArray withEdit(QByteArray bytes, qsizetype at, const QByteArray& edit)
{
    return bytes.replace(at, edit.size(), edit);
}

// A first install comes from the chunks (they compress), an update fetches only the chunks that
// changed, and a copy of an installed file costs nothing; each file is the release byte for byte.
TEST_F(ChunkUpdates, FetchesOnlyTheChunksThatChanged)
{
    const QByteArray v1 = testContent(5 << 20, 3);
    struct Case {
        const char* name;
        QByteArray v2;
        bool firstInstallByRun;
    };
    const Case cases[] = {
        {"3000 bytes changed in the middle", withEdit(v1, 2 << 20, QByteArray(3000, 'x')), true},
        {"one byte inserted near the start", QByteArray(v1).insert(100, 'X'), false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        QDir(root.filePath("game")).removeRecursively();
        QDir().mkpath(programFolder);
        publishRelease({{Big, v1}});
        if (c.firstInstallByRun) {
            requestsSince();
            ASSERT_EQ(update().kind, UpdateOutcome::Completed);
            ASSERT_TRUE(installed("data/big.dat") == v1);
            const auto [chunks, others] = requestsSince();
            EXPECT_EQ(uris(chunks), newChunks({}, v1));
            EXPECT_EQ(size_t(chunks.size()), newChunks({}, v1).size());
            EXPECT_FALSE(others.contains("/data/big.dat"));
        } else {
            install("data/big.dat", v1);  // no chunk list yet: the file is chunked once
        }

        // A copy listed first takes all its chunks from the old big.dat when its list is kept.
        const bool copy = c.firstInstallByRun;
        if (copy)
            publishRelease({{"\\data\\a copy.dat", v1}, {Big, c.v2}});
        else
            publishRelease({{Big, c.v2}});
        requestsSince();
        ASSERT_EQ(update().kind, UpdateOutcome::Completed) << host.events.join('\n').toStdString();
        EXPECT_TRUE(installed("data/big.dat") == c.v2);
        EXPECT_EQ(installed("data/a copy.dat") == v1, copy);
        const auto [chunks, others] = requestsSince();
        const Uris expected = newChunks(v1, c.v2);
        EXPECT_EQ(uris(chunks), expected);
        EXPECT_EQ(size_t(chunks.size()), expected.size());
        EXPECT_LE(expected.size(), c.firstInstallByRun ? 3 : 2);
        EXPECT_FALSE(others.contains("/data/big.dat") || others.contains("/data/a%20copy.dat"));
        // One list and index per installed content, nothing left in the download folder.
        QSet<QString> lists;
        for (const QByteArray& content : copy ? QList<QByteArray>{c.v2, v1} : QList<QByteArray>{c.v2})
            lists << QString::fromLatin1(Sha256::hash(content).toHex()) << QString::fromLatin1(Sha256::hash(content).toHex()) + ".cidx";
        EXPECT_EQ(keptLists(), lists);
        EXPECT_FALSE(root.exists("game/temp"));
    }
}

// After an install from chunks, an update fetches the delta from the kept index instead of the
// index; a delta that does not rebuild the listed index costs the full index, not the update.
TEST_F(ChunkUpdates, AnUpdateFetchesTheIndexDeltaFromTheKeptIndex)
{
    publishRelease({{Big, testContent(5 << 20, 3)}});
    ASSERT_EQ(update().kind, UpdateOutcome::Completed);
    for (const bool corrupt : {false, true}) {
        SCOPED_TRACE(corrupt ? "corrupted delta" : "sound delta");
        const QByteArray from = installed("data/big.dat");
        const QByteArray to = withEdit(from, (1 + int(corrupt)) << 20, QByteArray(3000, corrupt ? 'y' : 'x'));
        publishRelease({{Big, to}});
        const QString delta = ChunkStore::deltaName(Sha256::hash(to), Sha256::hash(from));
        QByteArray bytes = makeDelta(indexes[from], indexes[from].serialize(), indexes[to]);
        ASSERT_EQ(bytes.at(bytes.size() - 9), 'C');  // a copy after the new entries
        if (corrupt)
            bytes[bytes.size() - 20] = char(bytes.at(bytes.size() - 20) ^ 1);  // a new entry's hash
        site.write(delta, bytes);
        requestsSince();
        ASSERT_EQ(update().kind, UpdateOutcome::Completed) << host.events.join('\n').toStdString();
        EXPECT_TRUE(installed("data/big.dat") == to);
        const auto [chunks, others] = requestsSince();
        EXPECT_EQ(uris(chunks), newChunks(from, to));
        EXPECT_TRUE(others.contains("/" + delta.toLatin1()));
        EXPECT_EQ(others.contains("/" + ChunkStore::indexName(Sha256::hash(to)).toLatin1()), corrupt);
        EXPECT_TRUE(keptLists().contains(QString::fromLatin1(Sha256::hash(to).toHex()) + ".cidx"));
    }
}

// A chunk whose bytes are not the chunk the index names is refused: the run fails on it and the
// installed file stays as it was.
TEST_F(ChunkUpdates, ARefusedChunkKeepsTheInstalledFile)
{
    const QByteArray v1 = testContent(1 << 20, 5);
    const QByteArray v2 = withEdit(v1, 500000, testContent(20000, 6));
    install("data/big.dat", v1);
    publishRelease({{Big, v2}});
    // A changed chunk replaced by one of the same stored length that decompresses to other bytes.
    ChunkDecompressor decompressor;
    ChunkCompressor compressor;
    QString forged;
    const Uris changed = newChunks(v1, v2);
    for (const ChunkIndexEntry& entry : indexes.value(v2).chunks) {
        const QString name = ChunkStore::objectName(entry.hash);
        if (!changed.count(("/" + name).toStdString()) || !forged.isEmpty())
            continue;
        QByteArray bytes = decompressor.decompress(site.read(name), entry).value();
        bytes[bytes.size() / 2] = char(bytes[bytes.size() / 2] ^ 1);
        const QByteArray stored = compressor.compress(bytes);
        if (stored.size() == qsizetype(entry.storedLength)) {
            site.write(name, stored);
            forged = nginx->url("/" + name);
        }
    }
    ASSERT_FALSE(forged.isEmpty());

    const UpdateOutcome outcome = update();
    EXPECT_EQ(outcome.kind, UpdateOutcome::Failed);
    EXPECT_EQ(outcome.subject, forged);
    EXPECT_TRUE(outcome.reason.contains("SHA-256 differs from the index")) << outcome.reason.toStdString();
    EXPECT_TRUE(installed("data/big.dat") == v1);
    EXPECT_FALSE(keptLists().contains(QString::fromLatin1(Sha256::hash(v2).toHex())));
}

// An index is believed only as update.sums names it: another one (here with a byte more) is not
// used, and the file comes whole.
TEST_F(ChunkUpdates, AnIndexNotTheOneTheSumsNameFetchesTheWholeFile)
{
    const QByteArray v1 = testContent(1 << 20, 8);
    const QByteArray v2 = withEdit(v1, 1000, "changed");
    install("data/big.dat", v1);
    publishRelease({{Big, v2}});
    const QString index = ChunkStore::indexName(Sha256::hash(v2));
    site.write(index, site.read(index) + 'x');
    requestsSince();

    ASSERT_EQ(update().kind, UpdateOutcome::Completed);
    EXPECT_TRUE(installed("data/big.dat") == v2);
    const auto [chunks, others] = requestsSince();
    EXPECT_TRUE(chunks.isEmpty());
    EXPECT_TRUE(others.contains("/data/big.dat"));
}

// A run cut off after half the chunks keeps them; the next run fetches only the rest, and a kept
// chunk that was damaged meanwhile again.
TEST_F(ChunkUpdates, ARunCutOffContinuesWithoutFetchingTheKeptChunks)
{
    const QByteArray v1 = testContent(2 << 20, 7);
    QByteArray v2 = v1;
    for (int i = 0; i < 16; ++i)
        v2 = withEdit(v2, 60000 + i * 120000, QByteArray(200, char('a' + i)));
    install("data/big.dat", v1);
    publishRelease({{Big, v2}});
    QList<QByteArray> ordered;  // the new chunks in the file's order
    const Uris expected = newChunks(v1, v2);
    for (const ChunkIndexEntry& entry : indexes.value(v2).chunks) {
        const QByteArray uri = "/" + ChunkStore::objectName(entry.hash).toLatin1();
        if (expected.count(uri.toStdString()) && !ordered.contains(uri))
            ordered << uri;
    }
    ASSERT_GE(ordered.size(), 16);
    const QList<QByteArray> secondHalf = ordered.mid(ordered.size() / 2);
    for (const QByteArray& uri : secondHalf)
        QFile::rename(site.filePath(uri.mid(1)), site.filePath(uri.mid(1) + ".away"));

    EXPECT_EQ(update().reason, "HTTP 404");
    EXPECT_TRUE(installed("data/big.dat") == v1);
    const QList<QByteArray> first = requestsSince().first;
    EXPECT_EQ(uris(first), uris(ordered.first(ordered.size() - secondHalf.size())));

    for (const QByteArray& uri : secondHalf)
        QFile::rename(site.filePath(uri.mid(1) + ".away"), site.filePath(uri.mid(1)));
    const QString damaged = root.filePath("game/temp/" + QString::fromLatin1(ordered[0].mid(ordered[0].lastIndexOf('/') + 1)));
    ASSERT_TRUE(QFile::exists(damaged));
    root.write("game/temp/" + QFileInfo(damaged).fileName(), QByteArray(QFileInfo(damaged).size(), 'z'));

    ASSERT_EQ(update().kind, UpdateOutcome::Completed);
    EXPECT_TRUE(installed("data/big.dat") == v2);
    const QList<QByteArray> second = requestsSince().first;
    EXPECT_EQ(uris(second), uris(secondHalf + QList<QByteArray>{ordered[0]}));
    EXPECT_EQ(second.size(), secondHalf.size() + 1);
}

}  // namespace

// Chunks spread over the update site and two mirrors, one refusing connections and one serving
// damaged chunks: both are dropped, their chunks come from the site, and the file is whole.
TEST_F(ChunkUpdates, MirrorsThatRefuseOrServeDamagedChunksAreDropped)
{
    const QByteArray v1 = testContent(2 << 20, 7);
    const QByteArray v2 = withEdit(withEdit(v1, 300000, testContent(70000, 8)), 1500000, testContent(70000, 9));
    install("data/big.dat", v1);
    publishRelease({{Big, v2}});
    TempDir copy;
    std::filesystem::copy(QFile::encodeName(site.path()).toStdString(), QFile::encodeName(copy.path()).toStdString(),
                          std::filesystem::copy_options::recursive | std::filesystem::copy_options::overwrite_existing);
    int damaged = 0;
    for (const ChunkIndexEntry& entry : indexes.value(v2).chunks) {
        QByteArray bytes = copy.read(ChunkStore::objectName(entry.hash));
        bytes[bytes.size() / 2] = char(bytes[bytes.size() / 2] ^ 0x55);
        copy.write(ChunkStore::objectName(entry.hash), bytes);
        ++damaged;
    }
    ASSERT_GT(damaged, 0);
    NginxServer::Options options;
    options.accessLog = true;
    NginxServer mirror(copy.path(), options);
    ASSERT_TRUE(mirror.isRunning()) << mirror.error().toStdString();
    useSite(nginx->url("/").toLatin1(), "#UpdateMirror " + FaultServer::refusedUrl("/").toLatin1() + "\r\n#UpdateMirror "
                                            + mirror.url("/").toLatin1() + "\r\n");

    const UpdateOutcome outcome = update();
    ASSERT_EQ(outcome.kind, UpdateOutcome::Completed) << outcome.reason.toStdString();
    EXPECT_TRUE(installed("data/big.dat") == v2);
    int chunkRequests = 0;
    for (const QByteArray& line : mirror.accessLog())
        chunkRequests += line.contains(" /chunks/") ? 1 : 0;
    EXPECT_GE(chunkRequests, 1) << "the damaged mirror was asked, then dropped";
}

// With packs on the site, chunks come in few range requests straight into the file: a first
// install in one request per eight chunks at most, an update's scattered chunks in one multi-range
// request. A server that takes single ranges only, or none, or serves a damaged pack still gets
// the files installed: through single ranges, or the chunk objects.
TEST_F(ChunkUpdates, ChunksComeFromPacksInFewRangeRequests)
{
    const ChunkParams params = ChunkParams::forAverage(32 * 1024);
    const QByteArray v1 = testContent(8 << 20, 11);
    QByteArray v2 = v1;
    for (const int at : {1 << 20, 4 << 20, 7 << 20})
        v2 = withEdit(v2, at, testContent(3000, at));
    const struct {
        const char* name;
        QByteArray directives;
        bool damaged;       // a changed chunk's bytes flipped in the new pack
        int firstRequests;  // to the pack, by status: 206 (-1: one per eight chunks at most), 200
        int firstRefused;
        bool firstObjects;  // the first install fetches chunk objects
        int updateRequests, updateRefused;
        bool updateObjects;
    } cases[] = {
        {"ranges", "", false, -1, 0, false, 1, 0, false},
        {"single ranges only", "max_ranges 1;", false, -1, 0, false, 3, 1, false},
        {"no ranges", "max_ranges 0;", false, 0, 1, true, 0, 2, true},
        {"damaged pack", "", true, -1, 0, false, 1, 0, true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        QDir(root.filePath("game")).removeRecursively();
        QDir().mkpath(programFolder);
        NginxServer::Options options;
        options.accessLog = true;
        options.extra = c.directives;
        NginxServer server(site.path(), options);
        ASSERT_TRUE(server.isRunning()) << server.error().toStdString();
        useSite(server.url("/").toLatin1());
        qsizetype seenLines = 0;
        // The pack requests by status, and the chunk objects fetched, since the last call.
        const auto requests = [&] {
            std::map<std::string, int> byStatus;
            int objects = 0;
            const QList<QByteArray> log = server.accessLog();
            for (const QByteArray& line : log.mid(seenLines)) {
                const QList<QByteArray> fields = line.split(' ');
                if (fields.value(2).startsWith("/chunks/pack/"))
                    ++byStatus[fields.value(3).toStdString()];
                else if (fields.value(2).endsWith(".zst") && fields.value(3) == "200")
                    ++objects;
            }
            seenLines = log.size();
            return std::make_pair(byStatus, objects);
        };

        publishRelease({{Big, v1}}, params, true);
        ASSERT_EQ(update().kind, UpdateOutcome::Completed) << host.events.join('\n').toStdString();
        EXPECT_TRUE(installed("data/big.dat") == v1);
        const qsizetype chunks = indexes.value(v1).chunks.size();
        auto [first, firstObjects] = requests();
        if (c.firstRequests < 0)
            EXPECT_LE(first["206"] * 8, chunks) << first["206"] << " requests for " << chunks << " chunks";
        else
            EXPECT_EQ(first["206"], c.firstRequests);
        EXPECT_EQ(first["200"], c.firstRefused);
        EXPECT_EQ(firstObjects > 0, c.firstObjects);
        EXPECT_TRUE(QDir(root.filePath("game")).entryList({"*.zst"}, QDir::Files).isEmpty());
        EXPECT_FALSE(root.exists("game/temp"));

        publishRelease({{Big, v2}}, params, true);
        if (c.damaged) {
            const QString pack = ChunkStore::packName(Sha256::hash(v2));
            QByteArray bytes = site.read(pack);
            const QList<qint64> offsets = packOffsets(indexes.value(v2));
            QSet<QByteArray> old;
            for (const ChunkIndexEntry& entry : indexes.value(v1).chunks)
                old.insert(entry.hash);
            qsizetype changed = 0;
            while (old.contains(indexes.value(v2).chunks[changed].hash))
                ++changed;
            bytes[offsets[changed] + 10] = char(bytes[offsets[changed] + 10] ^ 0x55);
            site.write(pack, bytes);
        }
        ASSERT_EQ(update().kind, UpdateOutcome::Completed) << host.events.join('\n').toStdString();
        EXPECT_TRUE(installed("data/big.dat") == v2);
        auto [second, secondObjects] = requests();
        EXPECT_EQ(second["206"], c.updateRequests);
        EXPECT_EQ(second["200"], c.updateRefused);
        EXPECT_EQ(secondObjects > 0, c.updateObjects);
    }
}

// A file a run cut off left half built in temp/ goes on from the chunks in it: only the rest of
// the pack is fetched.
TEST_F(ChunkUpdates, AHalfBuiltFileGoesOnFromItsChunks)
{
    const QByteArray v1 = testContent(4 << 20, 12);
    publishRelease({{Big, v1}}, ChunkParams::forAverage(32 * 1024), true);
    root.write("game/temp/" + QString::fromLatin1(Sha256::hash(v1).toHex()) + ".built", v1.left(v1.size() / 2));
    const qsizetype before = nginx->accessLog().size();

    ASSERT_EQ(update().kind, UpdateOutcome::Completed) << host.events.join('\n').toStdString();
    EXPECT_TRUE(installed("data/big.dat") == v1);
    qint64 fetched = 0;
    for (const QByteArray& line : nginx->accessLog().mid(before))
        if (line.split(' ').value(2).startsWith("/chunks/"))
            fetched += line.split(' ').value(4).toLongLong();
    const qint64 pack = packOffsets(indexes.value(v1)).last();
    EXPECT_GT(fetched, pack * 4 / 10);
    EXPECT_LT(fetched, pack * 6 / 10);
}
