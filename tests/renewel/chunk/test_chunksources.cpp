// The chunk store's sources: what a file's chunks cost before anything is fetched, and fetching
// a huge index without queueing every chunk at once, against a real server on loopback.

#include "FaultServer.h"
#include "TempDir.h"
#include "chunk/ChunkFolder.h"
#include "chunk/ChunkStore.h"
#include "chunk/FetchPlan.h"
#include "chunk/InstalledCopies.h"
#include "chunk/RemoteChunks.h"
#include "net/DownloadQueue.h"
#include "net/HTTPRequest.h"
#include "net/SiteSources.h"

#include <QFile>
#include <QTest>

#include <gtest/gtest.h>

#include <optional>

namespace {

QByteArray hashOf(int n) { return QByteArray(28, 'h') + QByteArray::number(n + 1000); }

ChunkIndexEntry entry(int n, quint32 stored = 10) { return {hashOf(n), 100, stored}; }

// Installed copies count first, then chunks kept in the download folder at their stored length;
// everything else is fetched once however often the file repeats it.
TEST(FetchPlan, CountsWhatIsOnTheDiskAndFetchesEachMissingChunkOnce)
{
    TempDir dir;
    const ChunkFolder folder(dir.path());
    InstalledCopies installed;
    installed.add(dir.filePath("game.dat"), FileChunks{{{hashOf(1), 0, 100}, {hashOf(9), 100, 50}}, {}, 150});
    dir.write(ChunkStore::objectFileName(hashOf(2)), QByteArray(10, 'z'));  // kept whole
    dir.write(ChunkStore::objectFileName(hashOf(3)), QByteArray(4, 'z'));   // cut short
    ChunkIndex index;
    index.chunks = {entry(1), entry(2), entry(3, 30), entry(4, 40), entry(1), entry(4, 40), entry(2), entry(9)};
    const FetchPlan plan = planFetch(index, installed, &folder);
    ASSERT_EQ(plan.missing.size(), 3);
    EXPECT_EQ(plan.missing[0].hash, hashOf(3));
    EXPECT_EQ(plan.missing[1].hash, hashOf(4));
    EXPECT_EQ(plan.missing[2].hash, hashOf(9)) << "an installed chunk of another length is not the chunk";
    EXPECT_EQ(plan.fetchBytes, 30 + 40 + 10);
    EXPECT_EQ(plan.kept, QList<QByteArray>{hashOf(2)});
    EXPECT_EQ(plan.localBytes, 200);
    EXPECT_EQ(planFetch(index, installed).missing.size(), 4) << "without the folder, kept chunks are fetched";
}

// A file of very many chunks keeps only a window of them in the download queue: a site that
// does not answer is asked for the window's chunks and no more (the queue has room for other
// work), and a site that answers gets each chunk asked for once as the previous ones end.
TEST(RemoteChunks, KeepsAtMostItsWindowOfChunksInTheQueue)
{
    constexpr int Window = 4, Connections = 16;
    const struct {
        const char* name;
        int chunks;
        bool answers;
    } cases[] = {
        {"a file of 200000 chunks, the site stalls", 200000, false},
        {"three hundred chunks, the site answers", 300, true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        TempDir site, download;
        FaultServer server(site.path());
        QList<ChunkIndexEntry> chunks;
        chunks.reserve(c.chunks);
        for (int n = 0; n < c.chunks; ++n) {
            chunks << entry(n, 10 + n % 7);
            if (c.answers)
                site.write(ChunkStore::objectName(chunks.last().hash), QByteArray(10 + n % 7, 'c'));
        }
        if (!c.answers) {
            FaultServer::Fault stall;
            stall.delayHeadersMs = 600000;
            server.setDefaultFault(stall);
        }
        SiteSources sources(server.url("/").toLatin1(), {});
        HTTPSettings model;
        model.BinaryData = true;
        DownloadQueue queue(model, sources, Connections, nullptr, 10);
        const ChunkFolder folder(download.path());
        RemoteChunks remote(queue, folder, Window);
        int arrived = 0, mostInFlight = 0;
        std::optional<std::optional<RemoteChunks::Failure>> done;
        remote.fetch(
            chunks, [&](const ChunkIndexEntry&) { ++arrived, mostInFlight = std::max(mostInFlight, remote.inFlight()); },
            [&](std::optional<RemoteChunks::Failure> failure) { done = failure; });
        if (!c.answers) {
            ASSERT_TRUE(server.waitForRequests(Window));
            QTest::qWait(300);
            EXPECT_EQ(server.requestCount(), Window);
            EXPECT_TRUE(queue.hasRoom());
            EXPECT_FALSE(done.has_value());
            continue;
        }
        ASSERT_TRUE(QTest::qWaitFor([&] { return done.has_value(); }, 60000));
        EXPECT_FALSE(done->has_value()) << done->value().reason.toStdString();
        EXPECT_EQ(arrived, c.chunks);
        EXPECT_EQ(server.requestCount(), c.chunks);
        EXPECT_LE(mostInFlight, Window);
        EXPECT_TRUE(folder.has(chunks.last()));
    }
}

}  // namespace
