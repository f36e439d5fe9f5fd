// #UpdateMirror: the update site and copies of it on nginx. Sources that refuse connections or
// serve files that are not the listed ones are dropped and their work goes to the others; with a
// key, the lists (and the head before them) may come from a mirror only when their signature
// verifies.

#include "UpdateFixture.h"

#include "NginxServer.h"
#include "run/report/FailureLine.h"
#include "site/UpdateHead.h"
#include "trust/Sha256.h"

#include <QDateTime>
#include <QTemporaryFile>

namespace {
QByteArray content(int i) { return QByteArray(4000 + i, char('a' + i % 26)); }
QString dataPath(int i) { return QStringLiteral("data/f%1.bin").arg(i); }

// update.txt, update.sums and `count` files in folder; `alter` changes a file's bytes, same size.
void writeSite(const TempDir& folder, int count, const std::function<QByteArray(int, QByteArray)>& alter = {})
{
    QByteArray list = "Ironvale 3D update\r\n", sums;
    for (int i = 0; i < count; ++i) {
        const QByteArray listed = "\\data\\f" + QByteArray::number(i) + ".bin";
        list += listed + "\r\n" + QByteArray::number(content(i).size()) + "\r\n";
        sums += Sha256::hash(content(i)).toHex() + "  " + listed + "\n";
        folder.write(dataPath(i), alter ? alter(i, content(i)) : content(i));
    }
    folder.write("update.txt", list);
    folder.write("update.sums", Sha256::hash(list).toHex() + "  update.txt\n" + sums);
}

QByteArray corrupt(int, QByteArray bytes) { return bytes.replace(0, 4, "XXXX"); }

NginxServer::Options logged()
{
    NginxServer::Options o;
    o.accessLog = true;
    return o;
}

int fileRequests(const NginxServer& nginx)
{
    int n = 0;
    for (const QByteArray& line : nginx.accessLog())
        n += line.contains(" /data/") ? 1 : 0;
    return n;
}

QByteArray mirrorLines(const QStringList& urls)
{
    QByteArray lines;
    for (const QString& url : urls)
        lines += "#UpdateMirror " + url.toLatin1() + "\r\n";
    return lines;
}
}  // namespace

TEST_F(UpdateFixture, MirrorsThatRefuseOrServeCorruptFilesAreDroppedAndTheRunCompletes)
{
    constexpr int kFiles = 12;
    writeSite(site, kFiles);
    TempDir copy;
    writeSite(copy, kFiles, corrupt);
    NginxServer origin(site.path(), logged()), mirror(copy.path(), logged());
    if (!origin.isRunning() || !mirror.isRunning())
        GTEST_SKIP() << "nginx not available: " << origin.error().toStdString();
    useSite(origin.url("/").toLatin1(), mirrorLines({FaultServer::refusedUrl("/"), mirror.url("/")}));

    const UpdateOutcome outcome = update();

    ASSERT_EQ(outcome.kind, UpdateOutcome::Completed) << outcome.reason.toStdString();
    for (int i = 0; i < kFiles; ++i)
        EXPECT_EQ(installed(dataPath(i)), content(i)) << i;
    EXPECT_GE(fileRequests(mirror), 1);  // its corrupt copies were tried, then dropped
    EXPECT_LT(fileRequests(mirror), kFiles);
}

TEST_F(UpdateFixture, WithoutAKeyTheListsComeFromTheUpdateSiteOnly)
{
    writeSite(site, 2);
    NginxServer mirror(site.path(), logged());
    if (!mirror.isRunning())
        GTEST_SKIP() << "nginx not available: " << mirror.error().toStdString();
    useSite(FaultServer::refusedUrl("/").toLatin1(), mirrorLines({mirror.url("/")}));

    const UpdateOutcome outcome = update();

    EXPECT_EQ(outcome.kind, UpdateOutcome::Failed);
    EXPECT_EQ(outcome.reason, "connection refused");
    EXPECT_TRUE(mirror.accessLog().isEmpty());
}

// The update site refuses connections; the first mirror's list has been altered (a changed file
// and its checksum line), so its signature fails; the second mirror's is the studio's.
TEST_F(UpdateFixture, SignedListsComeFromTheFirstMirrorWhoseSignatureVerifies)
{
    TempDir keys, good, bad;
    RunMinisign({"-G", "-W", "-p", keys.filePath("k.pub"), "-s", keys.filePath("k.key")});
    const QString comment = "timestamp:" + QString::number(QDateTime::currentSecsSinceEpoch() - 60);
    for (const TempDir* folder : {&good, &bad}) {
        writeSite(*folder, 3);
        RunMinisign({"-S", "-s", keys.filePath("k.key"), "-m", folder->filePath("update.sums"), "-t", comment});
    }
    const QByteArray altered = corrupt(0, content(0));
    bad.write(dataPath(0), altered);
    bad.write("update.sums", bad.read("update.sums").replace(Sha256::hash(content(0)).toHex(),
                                                             Sha256::hash(altered).toHex()));
    NginxServer goodMirror(good.path(), logged()), badMirror(bad.path(), logged());
    if (!goodMirror.isRunning() || !badMirror.isRunning())
        GTEST_SKIP() << "nginx not available: " << goodMirror.error().toStdString();
    const QByteArray key = "#UpdateKey " + keys.read("k.pub").split('\n').value(1) + "\r\n";
    const QByteArray refused = FaultServer::refusedUrl("/").toLatin1();

    useSite(refused, key + mirrorLines({badMirror.url("/")}));
    EXPECT_EQ(update().reason, "bad signature");
    EXPECT_FALSE(root.exists("game/data/f0.bin"));

    useSite(refused, key + mirrorLines({badMirror.url("/"), goodMirror.url("/")}));
    const UpdateOutcome outcome = update();
    ASSERT_EQ(outcome.kind, UpdateOutcome::Completed) << outcome.reason.toStdString();
    for (int i = 0; i < 3; ++i)
        EXPECT_EQ(installed(dataPath(i)), content(i)) << i;
    EXPECT_EQ(fileRequests(badMirror), 0);
}

// The update site refuses connections: the mirror's head is asked for before its lists, the lists
// are taken as the ones it names, and the next run ends on that head alone.
TEST_F(UpdateFixture, WithTheSiteDownTheHeadComesFromTheMirrorWithItsLists)
{
    TempDir keys, copy;
    RunMinisign({"-G", "-W", "-p", keys.filePath("k.pub"), "-s", keys.filePath("k.key")});
    const QString comment = "timestamp:" + QString::number(QDateTime::currentSecsSinceEpoch() - 60);
    writeSite(copy, 3);
    RunMinisign({"-S", "-s", keys.filePath("k.key"), "-m", copy.filePath("update.sums"), "-t", comment});
    const QByteArray part = UpdateHead::signedPartFor(Sha256::hash(copy.read("update.txt")),
                                                      Sha256::hash(copy.read("update.sums")));
    RunMinisign({"-S", "-s", keys.filePath("k.key"), "-m", keys.write("head", part), "-t", comment});
    copy.write("update.head", part + keys.read("head.minisig"));
    NginxServer mirror(copy.path(), logged());
    if (!mirror.isRunning())
        GTEST_SKIP() << "nginx not available: " << mirror.error().toStdString();
    const QByteArray key = "#UpdateKey " + keys.read("k.pub").split('\n').value(1) + "\r\n";
    useSite(FaultServer::refusedUrl("/").toLatin1(), key + mirrorLines({mirror.url("/")}));
    const auto uris = [&](qsizetype from) {
        QList<QByteArray> paths;
        for (const QByteArray& line : mirror.accessLog().mid(from))
            paths << line.split(' ').value(2);
        return paths;
    };

    const UpdateOutcome first = update();
    ASSERT_EQ(first.kind, UpdateOutcome::Completed) << first.reason.toStdString();
    EXPECT_EQ(installed(dataPath(2)), content(2));
    EXPECT_EQ(uris(0).value(0), "/update.head");
    const qsizetype before = mirror.accessLog().size();
    const UpdateOutcome second = update();
    EXPECT_EQ(second.kind, UpdateOutcome::Completed) << second.reason.toStdString();
    EXPECT_EQ(uris(before), QList<QByteArray>{"/update.head"});
}

// A file that fails at every source ends the run once each distinct source has failed it: one
// failure line, status 1, however the sources are named.
TEST_F(UpdateFixture, AFileThatFailsEverywhereEndsTheRunWithOneLine)
{
    publishList({"\\gone.dat", "5"});
    const QByteArray site = server.url("/").toLatin1();
    const struct {
        const char* name;
        QByteArray mirrors;
        int requests;  // for the file, one per distinct source
    } cases[] = {
        {"site repeated as a mirror", "#UpdateMirror " + site + "\r\n", 1},
        {"mirror written twice", mirrorLines({server.url("/m/"), server.url("/m/")}), 2},
        {"mirror below the site", mirrorLines({server.url("/m/")}), 2},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        useSite(site, c.mirrors);
        QTemporaryFile lines;
        ASSERT_TRUE(lines.open());
        SetFailureOutput(lines.handle());
        const int before = server.requestCount();
        const UpdateOutcome outcome = update();
        SetFailureOutput(2);
        EXPECT_EQ(ExitStatus(outcome), 1);
        EXPECT_EQ(outcome.reason, "HTTP 404");
        QFile written(lines.fileName());
        ASSERT_TRUE(written.open(QIODevice::ReadOnly));
        EXPECT_EQ(written.readAll().count('\n'), 1);
        EXPECT_EQ(server.requestCount() - before, 2 + c.requests);  // the lists, then the file
    }
}
