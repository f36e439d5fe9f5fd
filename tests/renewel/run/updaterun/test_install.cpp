// Installing a downloaded file: always the old or the new file at the target, never a torn one.

#include "UpdateFixture.h"

#include <QDir>
#include <QFileInfo>

#include <functional>

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include "run/install/InstallFile.h"

#include <QDir>
#include <QFile>

#include <csignal>
#include <sys/wait.h>
#include <unistd.h>

namespace {
QStringList tempFiles(const QString& folder)
{
    return QDir(folder).entryList({"*.tmp"}, QDir::Files | QDir::Hidden);
}
}  // namespace

TEST(InstallFileTest, ReplacesTheTargetKeepingItsPermissions)
{
    TempDir dir;
    const QString source = dir.write("temp/tool", "new content");
    const QString target = dir.write("bin/tool", "old");
    QFile::setPermissions(target, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);

    ASSERT_TRUE(InstallFile(source, target));
    EXPECT_EQ(dir.read("bin/tool"), "new content");
    EXPECT_TRUE(QFile::permissions(target) & QFile::ExeOwner);
    EXPECT_EQ(dir.read("temp/tool"), "new content");  // the caller deletes the download
    EXPECT_TRUE(tempFiles(dir.filePath("bin")).isEmpty());

    EXPECT_TRUE(InstallFile(source, dir.filePath("bin/fresh")));
    EXPECT_EQ(dir.read("bin/fresh"), "new content");
}

TEST(InstallFileTest, FailureLeavesTargetAndFolderAsTheyWere)
{
    TempDir dir;
    const QString source = dir.write("temp/x", "new");
    dir.write("target/inside.txt", "keep");  // the target is a folder
    EXPECT_FALSE(InstallFile(source, dir.filePath("target")));
    EXPECT_EQ(dir.read("target/inside.txt"), "keep");
    EXPECT_TRUE(tempFiles(dir.path()).isEmpty());

    EXPECT_FALSE(InstallFile(dir.filePath("temp/missing"), dir.filePath("y")));
    EXPECT_FALSE(dir.exists("y"));
    EXPECT_FALSE(InstallFile(source, dir.filePath("nofolder/y")));
}

#ifdef Q_OS_LINUX
TEST(InstallFileTest, KilledMidwayLeavesOldOrNewFile)
{
    TempDir dir;
    const QByteArray oldContent(3'000'000, 'o');
    const QByteArray newContent(8'000'000, 'n');
    const QString source = dir.write("temp/big.dat", newContent);
    const QString target = dir.write("big.dat", oldContent);
    int sawOld = 0, sawNew = 0;
    for (int attempt = 0; attempt < 12; ++attempt) {
        dir.write("big.dat", oldContent);
        const pid_t child = fork();
        ASSERT_GE(child, 0);
        if (child == 0)
            _exit(InstallFile(source, target) ? 0 : 1);
        usleep(useconds_t(attempt * 5000));
        kill(child, SIGKILL);
        int status = 0;
        waitpid(child, &status, 0);
        const QByteArray now = dir.read("big.dat");
        ASSERT_TRUE(now == oldContent || now == newContent) << "torn file of " << now.size() << " bytes";
        (now == oldContent ? sawOld : sawNew)++;
        for (const QString& leftover : tempFiles(dir.path()))
            QFile::remove(dir.filePath(leftover));
    }
    EXPECT_GT(sawOld + sawNew, 0);
}
#endif

TEST_F(UpdateFixture, FileThatCannotBeInstalledStopsTheRunWithError)
{
    struct Case {
        const char* name;
        QByteArray listed;
        QString blocker;  // what stands in the way, relative to the program folder
    };
    const std::vector<Case> cases = {
        {"target is a folder", "\\data", "data/inside.txt"},
        {"folder part is a file", "\\plain.txt\\x.dat", "plain.txt"},
    };
    publish("data", "12345");
    publish("plain.txt/x.dat", "12345");
    for (const bool beQuiet : {false, true}) {
        for (const Case& c : cases) {
            SCOPED_TRACE(std::string(c.name) + (beQuiet ? " quiet" : ""));
            quiet = beQuiet;
            host.events.clear();
            host.terminates = 0;
            QDir(root.filePath("game")).removeRecursively();
            install(c.blocker, "in the way");
            publishList({c.listed, "5", "\\later.txt", "9"});

            update();

            EXPECT_EQ(installed(c.blocker), "in the way");
            EXPECT_FALSE(root.exists("game/later.txt"));
            EXPECT_TRUE(inTemp("update.txt"));
            EXPECT_TRUE(tempFiles(root.filePath("game")).isEmpty());
            const QList<QByteArray> end = quiet ? QList<QByteArray>{"terminate"}
                                                : QList<QByteArray>{"message Download failed", "terminate"};
            EXPECT_EQ(host.events.mid(host.events.size() - end.size()), end);
            EXPECT_FALSE(host.events.contains("message All done"));
        }
    }
}

TEST_F(UpdateFixture, InstallRemovesTheInstallersLeftoversBesideItsTargetOnly)
{
    install("maps/a.ivm", "old");
    publish("maps/a.ivm", "new a");
    publishList({"\\maps\\a.ivm", "5"});
    const QStringList leftovers = {"a.ivm.0123456789abcdef.tmp", "a.ivm.fedcba9876543210.tmp"};
    const QStringList others = {"a.ivm.tmp",         "a.ivm.0123456789ABCDEF.tmp", "a.ivm.0123456789abcde.tmp",
                                "b.ivm.0123456789abcdef.tmp", "xa.ivm.0123456789abcdef.tmp", "notes.tmp"};
    for (const QString& name : leftovers + others)
        install("maps/" + name, "left");

    EXPECT_EQ(update().kind, UpdateOutcome::Completed);

    EXPECT_EQ(installed("maps/a.ivm"), "new a");
    QStringList remaining = others;
    remaining << "a.ivm";
    remaining.sort();
    EXPECT_EQ(QDir(root.filePath("game/maps")).entryList(QDir::Files | QDir::Hidden, QDir::Name), remaining);
}

// Only what provably holds no lock is taken over; anything else says exactly what is wrong.
TEST_F(UpdateFixture, LockFileProblemsAreNamedAndDeadLocksTakenOver)
{
    publish("a.txt", "new");
    publishList({"\\a.txt", "3"});
    const QString lock = root.filePath("game/renewel.lock");
    TempDir outside;
    const struct {
        const char* what;
        std::function<void()> plant;
        QString reason;  // empty: the run completes
    } cases[] = {
        {"garbage left by a crash", [&] { root.write("game/renewel.lock", "\x01\x02 not a pid"); }, ""},
        {"a dangling link", [&] { QFile::link(outside.filePath("gone"), lock); }, ""},
        {"a folder", [&] { QDir().mkdir(lock); }, "cannot lock the installation: renewel.lock is a folder, not a lock file"},
        {"a pipe", [&] { ::mkfifo(QFile::encodeName(lock).constData(), 0600); },
         "cannot lock the installation: renewel.lock is not a regular file"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        install("a.txt", "ol");
        c.plant();
        const UpdateOutcome outcome = update();
        if (c.reason.isEmpty()) {
            EXPECT_EQ(outcome.kind, UpdateOutcome::Completed) << outcome.reason.toStdString();
            EXPECT_EQ(installed("a.txt"), "new");
            EXPECT_FALSE(QFileInfo(lock).exists() || QFileInfo(lock).isSymLink());
        } else {
            EXPECT_EQ(outcome.reason, c.reason);
            EXPECT_EQ(installed("a.txt"), "ol");
        }
        QDir().rmdir(lock);
        QFile::remove(lock);
    }

    // A lock held by a live run (another open of the file holding it) keeps others out.
    const int held = ::open(QFile::encodeName(lock).constData(), O_RDWR | O_CREAT, 0644);
    ASSERT_EQ(::flock(held, LOCK_EX), 0);
    EXPECT_EQ(update().reason, "another update is running on this installation");
    ::close(held);
    EXPECT_EQ(update().kind, UpdateOutcome::Completed);
}
