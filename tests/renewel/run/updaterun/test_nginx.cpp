// End to end: an update served by a real nginx.

#include "UpdateFixture.h"

#include "NginxServer.h"

#include <QDir>
#include <QSet>

TEST_F(UpdateFixture, UpdatesFromASiteServedByNginx)
{
    NginxServer nginx(site.path());
    if (!nginx.isRunning())
        GTEST_SKIP() << "nginx not available: " << nginx.error().toStdString();
    useSite(nginx.url("/updates/").toLatin1());

    const QByteArray exe(200'000, 'E');
    site.write("updates/game.exe", exe);
    site.write("updates/maps/green hill.ivm", "hill map");
    site.write("updates/maps/same.ivm", "SAME");
    site.write("updates/update.txt", "Ironvale 3D update 1.2\n"
                                     "\\game.exe\n200000\n"
                                     "\\maps\\green hill.ivm\n8\n"
                                     "\\maps\\same.ivm\n4\n");
    install("game.exe", "old exe");
    install("maps/same.ivm", "same");

    update();

    EXPECT_EQ(installed("game.exe"), exe);
    EXPECT_EQ(installed("maps/green hill.ivm"), "hill map");
    EXPECT_EQ(installed("maps/same.ivm"), "same");
    EXPECT_FALSE(root.exists("game/temp"));
    EXPECT_EQ(host.messages, QList<QByteArray>{"All done"});
    EXPECT_EQ(host.terminates, 1);
}

namespace {
// The site, over TLS with a throw-away CA that the run trusts for the test's duration.
struct TlsSite {
    explicit TlsSite(const QString& root, bool http2) : nginx(root, options(http2))
    {
        saved = qgetenv("RENEWEL_CA_BUNDLE");
        qputenv("RENEWEL_CA_BUNDLE", nginx.caFile().toUtf8());
    }
    ~TlsSite()
    {
        if (saved.isEmpty())
            qunsetenv("RENEWEL_CA_BUNDLE");
        else
            qputenv("RENEWEL_CA_BUNDLE", saved);
    }
    static NginxServer::Options options(bool http2)
    {
        NginxServer::Options o;
        o.tls = true;
        o.http2 = http2;
        o.accessLog = true;
        return o;
    }
    // Access log lines of the listed files: "CONNECTION PROTOCOL URI STATUS".
    QList<QList<QByteArray>> fileRequests() const
    {
        QList<QList<QByteArray>> lines;
        for (const QByteArray& line : nginx.accessLog())
            if (line.contains(" /data/"))
                lines << line.split(' ');
        return lines;
    }
    NginxServer nginx;
    QByteArray saved;
};

QByteArray content(int i) { return QByteArray(3000 + i, 'n') + QByteArray::number(i); }

void publishNumbered(TempDir& site, int count, const QList<int>& missing = {})
{
    QList<QByteArray> list;
    for (int i = 0; i < count; ++i) {
        const QByteArray body = content(i);
        if (!missing.contains(i))
            site.write(QStringLiteral("data/f%1.bin").arg(i), body);
        list << "\\data\\f" + QByteArray::number(i) + ".bin" << QByteArray::number(body.size());
    }
    QByteArray text = "Ironvale 3D update 2\r\n";
    for (const QByteArray& line : list)
        text += line + "\r\n";
    site.write("update.txt", text);
}
}  // namespace

// The run's downloads ride HTTP/2 streams on one connection where the server offers it over TLS,
// and HTTP/1.1 on at most #UpdateConnections connections where it does not; the window's own
// component still asks for update.txt in HTTP/1.0.
TEST_F(UpdateFixture, HttpsUsesHttp2WhereOfferedAndHttp11Otherwise)
{
    publishNumbered(site, 30);
    for (const bool http2 : {true, false}) {
        SCOPED_TRACE(http2 ? "HTTP/2 offered" : "HTTP/1.1 only");
        TlsSite tls(site.path(), http2);
        if (!tls.nginx.isRunning())
            GTEST_SKIP() << "nginx not available: " << tls.nginx.error().toStdString();
        QDir(root.filePath("game")).removeRecursively();
        QDir().mkpath(programFolder);
        useSite(tls.nginx.url("/").toLatin1(), "#UpdateConnections 3\r\n");

        ASSERT_EQ(update().kind, UpdateOutcome::Completed);
        EXPECT_EQ(installed("data/f29.bin"), content(29));
        const QList<QList<QByteArray>> requests = tls.fileRequests();
        ASSERT_EQ(requests.size(), 30);
        QSet<QByteArray> connections;
        for (const QList<QByteArray>& r : requests) {
            EXPECT_EQ(r.value(1), http2 ? "HTTP/2.0" : "HTTP/1.1");
            connections.insert(r.value(0));
        }
        if (http2)
            EXPECT_EQ(connections.size(), 1);
        else
            EXPECT_LE(connections.size(), 3);
        for (const QByteArray& line : tls.nginx.accessLog()) {
            if (line.contains(" /update.txt ")) {
                EXPECT_TRUE(line.contains(" HTTP/1.0 ")) << line.constData();
            }
        }
    }
}

// A file missing half-way through many multiplexed downloads stops the run there, and the release
// is not switched: none of the files is installed, although the others may have arrived.
TEST_F(UpdateFixture, FailureAmidMultiplexedDownloadsStopsInListOrder)
{
    publishNumbered(site, 60, {30});
    TlsSite tls(site.path(), true);
    if (!tls.nginx.isRunning())
        GTEST_SKIP() << "nginx not available: " << tls.nginx.error().toStdString();
    for (int i = 0; i < 60; ++i)
        install(QStringLiteral("data/f%1.bin").arg(i), "old");
    useSite(tls.nginx.url("/").toLatin1());

    const UpdateOutcome outcome = update();

    EXPECT_EQ(outcome.kind, UpdateOutcome::Failed);
    EXPECT_EQ(outcome.reason, "HTTP 404");
    EXPECT_EQ(outcome.subject, tls.nginx.url("/data/f30.bin"));
    for (int i = 0; i < 60; ++i) {
        SCOPED_TRACE(i);
        EXPECT_EQ(installed(QStringLiteral("data/f%1.bin").arg(i)), "old");
    }
}
