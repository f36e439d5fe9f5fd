// The download queue's failover: a download that fails at a source, or whose file the caller
// refuses, drops exactly that source and moves to another; an address named twice is one source;
// the download fails once no source is left, after one request per source.

#include "FaultServer.h"
#include "TempDir.h"

#include "net/DownloadQueue.h"
#include "net/HTTPRequest.h"
#include "net/SiteSources.h"

#include <gtest/gtest.h>

#include <QFile>
#include <QTest>

#include <optional>

namespace {
int requestsFor(const FaultServer& server, const QByteArray& path)
{
    int n = 0;
    for (const QByteArray& request : server.requests())
        n += request.startsWith("GET " + path + " ");
    return n;
}
}  // namespace

TEST(DownloadQueue, FailoverDropsTheSourceThatFailedAndEndsWhenNoneIsLeft)
{
    FaultServer good, bad;
    good.setBody("/f.dat", "right");
    good.setBody("/m/f.dat", "right");
    bad.setBody("/f.dat", "wrong");
    const QString refused = FaultServer::refusedUrl("/");
    const auto at = [](const FaultServer& s, const char* path) { return s.url(path).toLatin1(); };
    const struct {
        const char* name;
        QByteArray site;
        std::vector<QByteArray> mirrors;
        const char* file;
        bool succeeded;
        QString error;
        int sources;       // distinct sources
        int goodRequests;  // requests the good server received
    } cases[] = {
        {"site refuses, mirror serves", refused.toLatin1(), {at(good, "/")}, "f.dat", true, {}, 2, 1},
        {"mirror serves another file, site serves", at(bad, "/"), {at(good, "/")}, "f.dat", true, {}, 2, 1},
        {"site repeated as a mirror", at(good, "/"), {at(good, "/")}, "none.dat", false, "HTTP 404", 1, 1},
        {"mirror written twice", at(good, "/"), {at(bad, "/x/"), at(bad, "/x/")}, "none.dat", false, "HTTP 404", 2, 1},
        {"mirror below the site", at(good, "/"), {at(good, "/m/")}, "m/none.dat", false, "HTTP 404", 2, 2},
        {"nothing answers", refused.toLatin1(), {refused.toLatin1()}, "f.dat", false, "connection refused", 1, 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        TempDir dir;
        const int before = good.requestCount();
        SiteSources sources(c.site, c.mirrors);
        EXPECT_EQ(sources.count(), c.sources);
        HTTPSettings model;
        model.BinaryData = true;
        DownloadQueue queue(model, sources, 4, nullptr, 10);
        DownloadQueue::Fetch fetch;
        fetch.name = QString::fromLatin1(c.file);
        fetch.file = dir.filePath("f.part");
        fetch.maxSize = 5;
        fetch.check = [](const DownloadQueue::Outcome& o) {
            QFile file(o.file);
            return file.open(QIODevice::ReadOnly) && file.readAll() == "right" ? QString() : QStringLiteral("not the file");
        };
        std::optional<DownloadQueue::Outcome> outcome;
        queue.start(fetch, [&](const DownloadQueue::Outcome& o) { outcome = o; });
        ASSERT_TRUE(QTest::qWaitFor([&] { return outcome.has_value(); }, 20000));
        EXPECT_EQ(outcome->succeeded, c.succeeded);
        EXPECT_EQ(outcome->error, c.error);
        EXPECT_EQ(good.requestCount() - before, c.goodRequests);
        EXPECT_EQ(sources.aliveCount(), c.succeeded ? 1 : 0);
        if (c.succeeded) {
            EXPECT_TRUE(outcome->url.startsWith(good.url("/")));
        }
    }
    EXPECT_EQ(requestsFor(bad, "/f.dat"), 1);  // the wrong file was asked for once
}

TEST(DownloadQueue, AbortedDownloadsDropNoSource)
{
    FaultServer server;
    server.setBody("/slow.dat", QByteArray(100000, 's'));
    server.stall("/slow.dat", 1000);
    TempDir dir;
    SiteSources sources(server.url("/").toLatin1(), {server.url("/mirror/").toLatin1()});
    DownloadQueue queue(HTTPSettings{}, sources, 2, nullptr, 10);
    DownloadQueue::Fetch fetch;
    fetch.name = QStringLiteral("slow.dat");
    fetch.file = dir.filePath("slow.part");
    fetch.maxSize = 100000;
    std::optional<DownloadQueue::Outcome> outcome;
    queue.start(fetch, [&](const DownloadQueue::Outcome& o) { outcome = o; });
    ASSERT_TRUE(server.waitForRequests(1));
    queue.abortAll();
    ASSERT_TRUE(QTest::qWaitFor([&] { return outcome.has_value(); }, 5000));
    EXPECT_FALSE(outcome->succeeded);
    EXPECT_EQ(sources.aliveCount(), 2);
    EXPECT_EQ(server.requestCount(), 1);
}
