// renewel-publish run as a process on real folders: a signed site that the minisign tool and the
// updater's own check accept, update.txt's lines and order, the rest of the site left alone,
// refused paths that write nothing, and the command line.

#include "PublishFixture.h"

#include <filesystem>
#include <fstream>

#include <sys/mount.h>
#include <unistd.h>

namespace {

using namespace publishtest;

TEST_F(Publish, SignedSiteVerifiesWithMinisignAndTheUpdaterAndKeepsTheRestOfTheSite)
{
    const qint64 before = QDateTime::currentSecsSinceEpoch();
    // Relative folders, from the folder that holds them.
    const RunResult result = publish({"release", "site", "--key", "keys/demo.key", "--expires", "2"}, dir.path());
    const qint64 after = QDateTime::currentSecsSinceEpoch();
    ASSERT_EQ(result.exitCode, 0) << result.err.toStdString();
    EXPECT_TRUE(result.err.isEmpty()) << result.err.toStdString();

    const RunResult verified = run("minisign", {"-V", "-p", dir.filePath("keys/demo.pub"), "-m", dir.filePath("site/update.sums")});
    EXPECT_EQ(verified.exitCode, 0) << verified.err.toStdString();
    EXPECT_TRUE(verified.out.contains("Trusted comment: timestamp:")) << verified.out.toStdString();

    const QByteArray list = dir.read("site/update.txt");
    QList<QByteArray> lines = list.split('\n');
    ASSERT_EQ(lines.takeLast(), "");
    for (QByteArray& line : lines) {
        ASSERT_TRUE(line.endsWith('\r')) << "CR LF line ends";
        line.chop(1);
    }
    EXPECT_TRUE(QRegularExpression("^Ironvale 3D update list, published \\d{4}-\\d\\d-\\d\\d \\d\\d:\\d\\d:\\d\\d UTC$")
                    .match(QString::fromLatin1(lines.takeFirst())).hasMatch());
    const QList<QByteArray> expected = {"\\a\\x.txt", "1", "\\a-b.txt", "0", "\\maps\\coast\\harbour.ivm", "7",
                                        "\\maps\\forest.ivm", "10520", "\\readme.txt", "7"};
    EXPECT_EQ(lines, expected) << "sorted by path, folder by folder";

    EXPECT_EQ(dir.read("site/maps/coast/harbour.ivm"), "harbour");
    EXPECT_EQ(dir.read("site/index.html"), "<p>news</p>");
    EXPECT_EQ(QDir(dir.path()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden),
              QStringList({"keys", "release", "site", "site.releases"}))
        << "no assembly folder left behind";

    SignedListInput input;
    input.updateList = list;
    input.sums = dir.read("site/update.sums");
    input.signature = dir.read("site/update.sums.minisig");
    input.keyLine = dir.read("keys/demo.pub").split('\n').value(1);
    input.now = after;
    const ::Result<::SignedList> verdict = checkSignedList(input);
    ASSERT_TRUE(verdict) << verdict.error().toStdString();
    QList<QByteArray> paths;
    for (qsizetype i = 0; i < expected.size(); i += 2)
        paths << expected[i];
    EXPECT_TRUE(checkListed(verdict->sums, paths));
    EXPECT_GE(verdict->timestamp, before);
    EXPECT_LE(verdict->timestamp, after);
    EXPECT_EQ(verdict->expires, verdict->timestamp + 2 * 86400);

    // Published again without a key: the old signature would no longer match, so it goes.
    ASSERT_EQ(publish({dir.filePath("release"), dir.filePath("site")}).exitCode, 0);
    EXPECT_FALSE(dir.exists("site/update.sums.minisig"));
    EXPECT_TRUE(dir.read("site/update.sums").contains("  \\maps\\forest.ivm\n"));
}

TEST_F(Publish, RefusedFileStopsTheToolNamingItInOneLineAndWritesNothing)
{
    const struct {
        QByteArray name;   // raw bytes below the release folder
        QByteArray shown;  // as the error line names it
    } refused[] = {
        // A few of each kind; the library test has every refused path.
        {"tab\there.txt", "tab\\there.txt"},
        {"latin\xe9.txt", "latin\\xe9.txt"},
        {"Renewel.Stamp", "Renewel.Stamp: renewel's own file"},
        {"Maps/Forest.ivm", "maps/forest.ivm"},
        {"link.txt", "link.txt"},
    };
    const auto site = snapshot(dir.filePath("site"));
    for (const auto& [name, shown] : refused) {
        SCOPED_TRACE(shown.toStdString());
        const std::filesystem::path path = QFile::encodeName(dir.filePath("release/")).toStdString() + name.toStdString();
        std::filesystem::create_directories(path.parent_path());
        if (name == "link.txt")
            std::filesystem::create_symlink("readme.txt", path);
        else
            std::ofstream(path) << "x";
        const RunResult result = publish({dir.filePath("release"), dir.filePath("site")});
        EXPECT_EQ(result.exitCode, 1);
        EXPECT_TRUE(result.err.startsWith("renewel-publish: ")) << result.err.toStdString();
        EXPECT_TRUE(result.err.contains(shown)) << result.err.toStdString();
        EXPECT_EQ(result.err.count('\n'), 1) << result.err.toStdString();
        EXPECT_EQ(snapshot(dir.filePath("site")), site);
        EXPECT_EQ(QDir(dir.path()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden).size(), 3);
        std::filesystem::remove(path);
        if (name.startsWith("maps/old"))
            std::filesystem::remove(path.parent_path());
    }
}

TEST_F(Publish, CommandLine)
{
    const RunResult help = publish({"--help"});
    EXPECT_EQ(help.exitCode, 0);
    EXPECT_TRUE(help.out.contains("RELEASE_DIR") && help.out.contains("--key") && help.out.contains("--expires"));
    EXPECT_TRUE(help.out.startsWith("Usage: renewel-publish [options]")) << "the name, not the path called";
    const RunResult version = publish({"--version"});
    EXPECT_EQ(version.exitCode, 0);
    EXPECT_EQ(version.out, "renewel-publish " IV_VERSION "\n");
    EXPECT_TRUE(publish({"verify", "--help"}).out.startsWith("Usage: renewel-publish verify [options] SITE_DIR"));

    const QString release = dir.filePath("release");
    const QString site = dir.filePath("site");
    const struct {
        QStringList args;
        int exitCode;
        QByteArray message;
    } bad[] = {
        {{}, 2, "renewel-publish: usage: "},
        {{release}, 2, "renewel-publish: usage: "},
        {{release, site, "--frobnicate"}, 2, "renewel-publish: usage: "},
        {{release, site, "--key", dir.filePath("keys/demo.key"), "--expires", "0"}, 2, "renewel-publish: --expires: "},
        {{release, site, "--expires", "3"}, 2, "renewel-publish: --expires: "},
        {{release, site, "--key", dir.filePath("keys/none.key")}, 1, "no readable secret key file"},
        {{release, site, "--key", dir.filePath("keys/demo.pub")}, 1, "minisign"},
        {{dir.filePath("none"), site}, 1, "not a folder"},
        {{release, dir.filePath("release/maps")}, 1, "must not be the release folder or inside it"},
        {{dir.filePath("site/inner"), site}, 1, "the release folder must not be inside the site folder"},
    };
    dir.write("site/inner/x.txt", "x");
    const auto before = snapshot(dir.path());
    for (const auto& [args, exitCode, message] : bad) {
        SCOPED_TRACE(args.join(' ').toStdString());
        const RunResult result = publish(args);
        EXPECT_EQ(result.exitCode, exitCode);
        EXPECT_TRUE(result.err.contains(message)) << result.err.toStdString();
        EXPECT_EQ(result.err.count('\n'), 1) << "one line";
        EXPECT_EQ(snapshot(dir.path()), before);
    }
}

TEST_F(Publish, KilledRunLeavesASiteThatVerifiesAndTheNextRunClearsOnlyItsOwnLeftovers)
{
    const struct {
        bool migrating;    // the site is still a plain folder
        QByteArray step;   // where the run is killed
        bool newRelease;   // what the site serves after the kill
    } cases[] = {
        {true, "copying", false}, {true, "built", false},    {true, "switched", true},
        {false, "copying", false}, {false, "built", false}, {false, "switched", true},
    };
    for (const auto& [migrating, step, newRelease] : cases) {
        SCOPED_TRACE(step.toStdString() + (migrating ? " (migrating)" : ""));
        std::filesystem::remove_all(QFile::encodeName(dir.filePath("site.releases")).toStdString());
        QFile::remove(dir.filePath("site"));
        dir.write("site/index.html", "<p>news</p>");
        dir.write(".site.publish-Ab12Cd/maps/forest.ivm", "left by an older version");
        dir.write("release/readme.txt", "first");
        if (!migrating) {
            ASSERT_EQ(publishSigned().exitCode, 0);
        }
        dir.write("site.releases/notes.txt", "not ours");
        const QByteArray before = dir.read("site/update.txt");
        dir.write("release/readme.txt", "second");
        dir.write("release/maps/forest.ivm", QByteArray(10520, 'g'));

        EXPECT_EQ(publishSigned("site", step).exitCode, -1) << "killed";
        if (migrating && !newRelease) {
            EXPECT_FALSE(QFileInfo(dir.filePath("site")).isSymLink());
        } else {
            EXPECT_EQ(siteFault(dir, dir.filePath("site")), QString());
            EXPECT_EQ(dir.read("site/readme.txt"), newRelease ? "second" : "first");
            EXPECT_EQ(dir.read("site/update.txt") == before, !newRelease);
        }

        const RunResult again = publishSigned();
        ASSERT_EQ(again.exitCode, 0) << again.err.toStdString();
        EXPECT_EQ(siteFault(dir, dir.filePath("site")), QString());
        EXPECT_EQ(dir.read("site/readme.txt"), "second");
        EXPECT_EQ(dir.read("site/index.html"), "<p>news</p>");
        EXPECT_FALSE(dir.exists(".site.publish-Ab12Cd"));
        QStringList left = QDir(dir.filePath("site.releases")).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot);
        ASSERT_EQ(left.size(), 5) << left.join(' ').toStdString();
        EXPECT_TRUE(left.removeOne(".publish.lock") && left.removeOne(".publish.record") && left.removeOne("notes.txt"))
            << left.join(' ').toStdString();
        // What the last run replaced is kept to go back to when it was a release, else waits,
        // renamed, for the next run to remove it.
        const QStringList retired = left.filter(QRegularExpression("^(\\.retired-|kept-release-)"));
        ASSERT_EQ(retired.size(), 1) << left.join(' ').toStdString();
        left.removeOne(retired.value(0));
        EXPECT_EQ(QFile::symLinkTarget(dir.filePath("site")), dir.filePath("site.releases/" + left.value(0)));
    }
}

TEST_F(Publish, NginxServingTheSiteSwitchesToTheNewReleaseWhole)
{
    const std::string oddNews = QFile::encodeName(dir.filePath("site/news\xff.html")).toStdString();
    std::ofstream(oddNews) << "old news";
    ASSERT_EQ(publishSigned().exitCode, 0);
    NginxServer nginx(dir.filePath("site"));
    ASSERT_TRUE(nginx.isRunning()) << nginx.error().toStdString();
    const auto get = [&](const QString& path) { return run("curl", {"-sf", nginx.url(path)}).out; };
    EXPECT_EQ(get("/update.txt"), dir.read("site/update.txt"));

    dir.write("release/maps/forest.ivm", QByteArray(10520, 'g'));
    ASSERT_EQ(publishSigned().exitCode, 0);
    EXPECT_EQ(get("/update.txt"), dir.read("site/update.txt"));
    EXPECT_EQ(get("/maps/forest.ivm"), QByteArray(10520, 'g'));
    EXPECT_EQ(get("/index.html"), "<p>news</p>");
    EXPECT_TRUE(std::filesystem::is_regular_file(oddNews)) << "other files carry over, whatever their names";
}

TEST_F(Publish, FullDiskGivesTheSystemsReasonAndKeepsTheSite)
{
    if (::geteuid() != 0)
        GTEST_SKIP() << "mounting a small tmpfs needs root";
    const QByteArray disk = QFile::encodeName(dir.filePath("disk"));
    QDir().mkpath(dir.filePath("disk"));
    ASSERT_EQ(::mount("tmpfs", disk.constData(), "tmpfs", 0, "size=256k"), 0) << std::strerror(errno);
    const std::unique_ptr<const char, int (*)(const char*)> unmount(disk.constData(), ::umount);

    ASSERT_EQ(publishSigned("disk/site").exitCode, 0);
    dir.write("release/big.bin", QByteArray(400 * 1024, 'b'));
    const RunResult full = publishSigned("disk/site");
    EXPECT_EQ(full.exitCode, 1);
    EXPECT_TRUE(full.err.contains(": No space left on device\n")) << full.err.toStdString();
    EXPECT_EQ(siteFault(dir, dir.filePath("disk/site")), QString());
    EXPECT_FALSE(dir.exists("disk/site/big.bin"));
    EXPECT_EQ(QDir(dir.filePath("disk/site.releases")).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot).size(), 3)
        << "the lock, the record and the current release";
}

}  // namespace
