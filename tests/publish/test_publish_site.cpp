// renewel-publish beyond the first publish: publishing again reads only what changed and lists the
// changes, a dry run writes nothing, verify finds each fault of a site (its head included), a key
// with a password needs a terminal or a password file, and push sends a site to a real SFTP server in order.

#include "PublishFixture.h"
#include "site/UpdateHead.h"

#include <QElapsedTimer>
#include <QThread>

namespace {

using namespace publishtest;

TEST_F(Publish, PublishingAgainReadsOnlyChangedFilesAndListsTheChanges)
{
    QThread::msleep(50);  // files written just before a publish are read again next time, as they may still change
    const RunResult first = publishSigned();
    ASSERT_EQ(first.exitCode, 0) << first.err.toStdString();
    EXPECT_TRUE(first.out.contains("5 added, 0 changed, 0 removed, 0 unchanged;")) << first.out.toStdString();
    EXPECT_TRUE(first.out.contains("(signed; 5 files read, ")) << first.out.toStdString();

    dir.write("release/readme.txt", "READ ME");  // the same size
    dir.write("release/new.txt", "new");
    QFile::remove(dir.filePath("release/a/x.txt"));
    QThread::msleep(50);
    const QList<QByteArray> changes = {"added new.txt", "changed readme.txt", "removed a/x.txt"};
    const auto before = snapshot(dir.path());
    const RunResult dry = publish({"release", "site", "--key", "keys/demo.key", "--dry-run"}, dir.path());
    ASSERT_EQ(dry.exitCode, 0) << dry.err.toStdString();
    EXPECT_EQ(lines(dry.out).mid(0, 3), changes);
    EXPECT_TRUE(dry.out.contains("1 added, 1 changed, 1 removed, 3 unchanged; 5 files, 10537 bytes would be published"))
        << dry.out.toStdString();
    EXPECT_EQ(snapshot(dir.path()), before) << "a dry run writes nothing";

    const RunResult second = publishSigned();
    ASSERT_EQ(second.exitCode, 0) << second.err.toStdString();
    EXPECT_EQ(lines(second.out).mid(0, 3), changes);
    EXPECT_TRUE(second.out.contains("(signed; 2 files read, 10 bytes)")) << second.out.toStdString();
    EXPECT_EQ(siteFault(dir, dir.filePath("site")), QString());
    EXPECT_EQ(dir.read("site/readme.txt"), "READ ME");

    // A site copy changed behind the tool's back is not trusted: it is copied again.
    dir.write("site/maps/forest.ivm", QByteArray(10520, 'x'));
    const RunResult third = publishSigned();
    EXPECT_TRUE(third.out.contains("0 added, 0 changed, 0 removed, 5 unchanged;")) << third.out.toStdString();
    EXPECT_TRUE(third.out.contains("1 files read, 10520 bytes")) << third.out.toStdString();
    EXPECT_EQ(siteFault(dir, dir.filePath("site")), QString());
}

TEST_F(Publish, VerifyReportsEachFaultOfASiteOnOneLine)
{
    ASSERT_EQ(run("minisign", {"-G", "-W", "-p", dir.filePath("keys/other.pub"), "-s", dir.filePath("keys/other.key")})
                  .exitCode, 0);
    const auto replace = [&](const QString& name, const QByteArray& bytes) {
        QFile::remove(dir.filePath(name));  // never written through a link another release shares
        dir.write(name, bytes);
    };
    // A head signed with the studio's key over these digests, its trusted comment the lists' own
    // with the timestamp moved by `later` seconds.
    const auto signHead = [&](const QByteArray& list, const QByteArray& sums, qint64 later) {
        const QByteArray comment = dir.read("site/update.sums.minisig").split('\n').value(2).mid(17);
        const qint64 timestamp = comment.mid(10).split(' ').value(0).toLongLong();
        const QByteArray part = UpdateHead::signedPartFor(Sha256::hash(list), Sha256::hash(sums));
        const QString file = dir.write("head.part", part);
        run("minisign", {"-S", "-s", dir.filePath("keys/demo.key"), "-m", file, "-t",
                         QString::fromLatin1(comment).replace(QString::number(timestamp), QString::number(timestamp + later))});
        replace("site/update.head", part + dir.read("head.part.minisig"));
    };
    const auto lists = [&] { return std::pair(dir.read("site/update.txt"), dir.read("site/update.sums")); };
    const struct {
        const char* fault;
        std::function<void()> make;
        QString pub;
        QByteArray line;  // on standard error; empty: the site is whole
    } cases[] = {
        {"whole", [] {}, "keys/demo.pub", {}},
        {"tampered", [&] { dir.write("site/maps/forest.ivm", QByteArray(10520, 'x')); }, "keys/demo.pub",
         "site/maps/forest.ivm: does not match its checksum in update.sums\n"},
        {"missing", [&] { QFile::remove(dir.filePath("site/readme.txt")); }, "keys/demo.pub",
         "site/readme.txt: missing\n"},
        {"other key", [] {}, "keys/other.pub", "site/update.sums.minisig: "},
        {"bad signature",
         [&] { dir.write("site/update.sums.minisig", dir.read("site/update.sums.minisig").replace("timestamp:", "timestamp:1")); },
         "keys/demo.pub",
         "site/update.sums.minisig: "},
        {"head with a bad signature",
         [&] { replace("site/update.head", dir.read("site/update.head").replace("timestamp:", "timestamp:1")); },
         "keys/demo.pub", "site/update.head: "},
        {"head over other lists", [&] { signHead("other", lists().second, 0); }, "keys/demo.pub",
         "site/update.head: update.txt is not the list update.head names\n"},
        {"head signed at another time", [&] { signHead(lists().first, lists().second, 1); }, "keys/demo.pub",
         "site/update.head: signed at "},
        {"stale compressed list", [&] { replace("site/update.txt.gz", dir.read("site/update.sums.gz")); },
         "keys/demo.pub", "site/update.txt.gz: does not decompress to update.txt\n"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.fault);
        ASSERT_EQ(publishSigned().exitCode, 0);
        c.make();
        const RunResult result = publish({"verify", "site", "--pub", c.pub}, dir.path());
        EXPECT_EQ(result.exitCode, c.line.isEmpty() ? 0 : 1);
        if (c.line.isEmpty()) {
            EXPECT_EQ(result.err, "");
            EXPECT_TRUE(result.out.contains("5 files, 10535 bytes checked; the site is whole")) << result.out.toStdString();
        } else {
            EXPECT_EQ(result.err.count('\n'), 1) << result.err.toStdString();
            EXPECT_TRUE(result.err.startsWith("renewel-publish: " + c.line)) << result.err.toStdString();
        }
    }
}

TEST_F(Publish, KeyWithAPasswordNeedsATerminalOrAPasswordFile)
{
    QProcess keygen;
    keygen.start("minisign", {"-G", "-p", dir.filePath("keys/pw.pub"), "-s", dir.filePath("keys/pw.key")});
    keygen.write("secret\nsecret\n");
    keygen.closeWriteChannel();
    ASSERT_TRUE(keygen.waitForFinished(60000) && keygen.exitCode() == 0);

    QElapsedTimer timer;
    timer.start();
    const RunResult refused = publish({"release", "site", "--key", "keys/pw.key"}, dir.path());
    EXPECT_LT(timer.elapsed(), 1000);
    EXPECT_EQ(refused.exitCode, 1);
    EXPECT_TRUE(refused.err.startsWith("renewel-publish: keys/pw.key: the key is protected by a password and there is "
                                       "no terminal to ask for it: give the password with --password-file FILE"))
        << refused.err.toStdString();
    EXPECT_TRUE(refused.err.contains("minisign -G -W")) << refused.err.toStdString();
    EXPECT_FALSE(dir.exists("site.releases"));

    dir.write("keys/pw.txt", "secret\n");
    const RunResult signedWithPassword = publish({"release", "site", "--key", "keys/pw.key", "--password-file", "keys/pw.txt"},
                                              dir.path());
    ASSERT_EQ(signedWithPassword.exitCode, 0) << signedWithPassword.err.toStdString();
    EXPECT_EQ(publish({"verify", "site", "--pub", "keys/pw.pub"}, dir.path()).exitCode, 0);
}

TEST_F(Publish, PushSendsChangedObjectsThenTheListsAndDeletesOnlyAfterTheGrace)
{
    SftpServer origin(dir);
    ASSERT_TRUE(origin.ready());
    const auto push = [&] { return publish({"push", "site", "origin:", "--keep", "1"}, dir.path()); };
    const auto sent = [](const RunResult& r) {
        QList<QByteArray> objects;
        for (const QByteArray& line : lines(r.out))
            if (line.startsWith("sent "))
                objects << line.mid(5);
        return objects;
    };
    const QList<QByteArray> listsLast = {"update.sums.minisig", "update.sums.gz", "update.sums",
                                         "update.txt.gz", "update.txt", "update.head"};

    ASSERT_EQ(publishSigned().exitCode, 0);
    const RunResult first = push();
    ASSERT_EQ(first.exitCode, 0) << first.err.toStdString();
    EXPECT_EQ(first.err, "");
    EXPECT_EQ(sent(first).size(), 12) << "five release files, the news page, six lists";
    EXPECT_EQ(sent(first).mid(6), listsLast);
    EXPECT_EQ(snapshot(origin.root()), snapshot(dir.filePath("site")));

    dir.write("release/readme.txt", "changed");  // the same size as "read me"
    QFile::remove(dir.filePath("release/a/x.txt"));
    ASSERT_EQ(publishSigned().exitCode, 0);
    // Each change lands within the second of the version the origin holds: size and time match.
    for (const QString& name : QDir(dir.filePath("site")).entryList(QDir::Files)) {
        QFile file(dir.filePath("site/" + name));
        const QFileInfo held(origin.root() + '/' + name);
        if (held.exists() && file.open(QIODevice::ReadWrite))
            file.setFileTime(held.lastModified(), QFileDevice::FileModificationTime);
    }
    const RunResult second = push();
    ASSERT_EQ(second.exitCode, 0) << second.err.toStdString();
    EXPECT_EQ(sent(second), QList<QByteArray>{"readme.txt"} + listsLast) << second.out.toStdString();
    EXPECT_FALSE(second.out.contains("deleted ")) << "the previous release's files stay for a grace";
    EXPECT_TRUE(QFile::exists(origin.root() + "/a/x.txt"));
    EXPECT_EQ(snapshot(origin.root()).value("readme.txt"), "changed");
    EXPECT_EQ(siteFault(dir, origin.root()), QString());

    const RunResult third = push();
    ASSERT_EQ(third.exitCode, 0) << third.err.toStdString();
    EXPECT_EQ(sent(third), QList<QByteArray>());
    EXPECT_EQ(lines(third.out).value(0), "deleted a/x.txt");
    EXPECT_EQ(snapshot(origin.root()), snapshot(dir.filePath("site")));
}

}  // namespace
