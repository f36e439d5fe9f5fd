// Downloads in parallel over kept connections, continued where they broke off, tried again when
// the failure may pass, and within a byte rate; installs still happen in list order.

#include "UpdateFixture.h"

#include <QDir>
#include <QElapsedTimer>

namespace {
QByteArray pattern(qsizetype size, int seed)
{
    QByteArray bytes(size, '\0');
    for (qsizetype i = 0; i < size; ++i)
        bytes[i] = char((i * 131 + seed * 7) >> 3);
    return bytes;
}

int requestsOf(const QList<QByteArray>& requests, const QByteArray& path)
{
    int n = 0;
    for (const QByteArray& r : requests)
        n += r.startsWith("GET " + path + " ");
    return n;
}
}  // namespace

TEST_F(UpdateFixture, ConnectionsAreKeptAcrossFiles)
{
    QList<QByteArray> list;
    for (int i = 0; i < 24; ++i) {
        const QString name = QStringLiteral("data/f%1.bin").arg(i);
        publish(name, pattern(3000 + i, i));
        list << "\\data\\f" + QByteArray::number(i) + ".bin" << QByteArray::number(3000 + i);
    }
    publishList(list);
    for (const int connections : {1, 6}) {
        SCOPED_TRACE(connections);
        QDir(root.filePath("game")).removeRecursively();
        QDir().mkpath(programFolder);
        useSite(server.url("/").toLatin1(), "#UpdateConnections " + QByteArray::number(connections) + "\r\n");
        const int before = server.connectionCount();
        EXPECT_EQ(update().kind, UpdateOutcome::Completed);
        EXPECT_EQ(installed("data/f23.bin"), pattern(3023, 23));
        EXPECT_TRUE(server.requests().last().contains("Connection: keep-alive"));
        // One connection for the lists, and one for each download slot.
        EXPECT_LE(server.connectionCount() - before, connections + 1);
    }
}

TEST_F(UpdateFixture, SameNameInTwoFoldersStaysApart)
{
    publish("a/x.dat", "first");
    publish("b/x.dat", "second!");
    publishList({"\\a\\x.dat", "5", "\\b\\x.dat", "7"});
    EXPECT_EQ(update().kind, UpdateOutcome::Completed);
    EXPECT_EQ(installed("a/x.dat"), "first");
    EXPECT_EQ(installed("b/x.dat"), "second!");
}

TEST_F(UpdateFixture, BrokenDownloadContinuesWhereItStopped)
{
    const QByteArray body = pattern(200'000, 1);
    publish("big.bin", body);
    publishList({"\\big.bin", "200000"});
    server.failTimes("/big.bin", 1, FaultServer::cutFault(120'000));
    EXPECT_EQ(update().kind, UpdateOutcome::Completed);
    EXPECT_EQ(installed("big.bin"), body);
    EXPECT_EQ(server.bodyBytesSent("/big.bin"), body.size());  // nothing sent twice
    EXPECT_TRUE(server.lastRequest().contains("Range: bytes=120000-"));
    EXPECT_TRUE(server.lastRequest().contains("If-Range: "));
}

TEST_F(UpdateFixture, ChangedFileOnTheServerStartsOver)
{
    publish("big.bin", pattern(100'000, 1));
    publishList({"\\big.bin", "100000"});
    server.failTimes("/big.bin", 4, FaultServer::cutFault(1000));
    EXPECT_EQ(update().kind, UpdateOutcome::Failed);  // four short tries: the partial file stays

    const QByteArray changed = pattern(100'000, 2);
    publish("big.bin", changed);  // same size, another version: the kept validator no longer matches
    server.clearFaults();
    EXPECT_EQ(update().kind, UpdateOutcome::Completed);
    EXPECT_EQ(installed("big.bin"), changed);
}

TEST_F(UpdateFixture, TransientFailuresAreTriedAgain)
{
    struct Case {
        const char* name;
        FaultServer::Fault fault;
        int failures;
        bool installs;
        int requests;
    } cases[] = {
        {"503 twice", FaultServer::statusFault(503), 2, true, 3},
        {"reset once", FaultServer::resetFault(), 1, true, 2},
        {"503 four times", FaultServer::statusFault(503), 4, false, 4},
        {"404 is final", FaultServer::statusFault(404), 1, false, 1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        QDir(root.filePath("game")).removeRecursively();
        QDir().mkpath(programFolder);
        publish("a.bin", "payload");
        publishList({"\\a.bin", "7"});
        server.clearFaults();
        server.failTimes("/a.bin", c.failures, c.fault);
        const int before = requestsOf(server.requests(), "/a.bin");
        EXPECT_EQ(update().kind, c.installs ? UpdateOutcome::Completed : UpdateOutcome::Failed);
        EXPECT_EQ(root.exists("game/a.bin"), c.installs);
        EXPECT_EQ(requestsOf(server.requests(), "/a.bin") - before, c.requests);
    }
}

TEST_F(UpdateFixture, RetryAfterIsHonoured)
{
    publish("a.bin", "payload");
    publishList({"\\a.bin", "7"});
    server.failTimes("/a.bin", 1, FaultServer::statusFault(429, "Retry-After: 1\r\n"));
    EXPECT_EQ(update().kind, UpdateOutcome::Completed);
    const QList<qint64> times = server.requestTimes();
    ASSERT_GE(times.size(), 2);
    EXPECT_GE(times.last() - times[times.size() - 2], 950);
}

TEST_F(UpdateFixture, ByteRateCapHolds)
{
    QList<QByteArray> list;
    for (int i = 0; i < 3; ++i) {
        publish(QStringLiteral("r%1.bin").arg(i), pattern(100'000, i));
        list << "\\r" + QByteArray::number(i) + ".bin" << "100000";
    }
    publishList(list);
    useSite(server.url("/").toLatin1(), "#UpdateMaxRate 150000\r\n");
    QElapsedTimer clock;
    clock.start();
    EXPECT_EQ(update().kind, UpdateOutcome::Completed);
    const double seconds = clock.elapsed() / 1000.0;  // 300000 bytes at 150000 a second: 2 s
    EXPECT_GE(seconds, 2.0 * 0.8);
    EXPECT_LE(seconds, 2.0 * 1.2 + 0.3);  // plus the run's own start
}
