// renewel-publish run as a process on real folders: a signed site that the minisign tool and the
// updater's own check accept, update.txt's lines and order, the rest of the site left alone,
// refused paths that write nothing, and the command line.

#include "trust/Manifest.h"
#include "TempDir.h"

#include <gtest/gtest.h>

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QRegularExpression>

#include <filesystem>
#include <fstream>

namespace {

struct Result {
    int exitCode = -1;
    QByteArray out;
    QByteArray err;
};

Result run(const QString& program, const QStringList& args, const QString& workDir = {})
{
    QProcess process;
    process.setWorkingDirectory(workDir);
    process.start(program, args);
    process.closeWriteChannel();
    EXPECT_TRUE(process.waitForFinished(60000)) << program.toStdString();
    return {process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1,
            process.readAllStandardOutput(), process.readAllStandardError()};
}

Result publish(const QStringList& args, const QString& workDir = {})
{
    return run(QStringLiteral(IV_BINARY_DIR "/publish/renewel-publish"), args, workDir);
}

// Every file below a folder with its contents, for "nothing changed" checks.
QMap<QString, QByteArray> snapshot(const QString& folder)
{
    QMap<QString, QByteArray> files;
    for (const QString& name : QDir(folder).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden)) {
        const QString path = folder + '/' + name;
        if (QFileInfo(path).isDir() && !QFileInfo(path).isSymLink()) {
            const auto inner = snapshot(path);
            for (auto it = inner.begin(); it != inner.end(); ++it)
                files.insert(name + '/' + it.key(), it.value());
        } else {
            QFile file(path);
            files.insert(name, file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<unreadable>"));
        }
    }
    return files;
}

class Publish : public ::testing::Test {
protected:
    void SetUp() override
    {
        QDir().mkpath(dir.filePath("keys"));
        ASSERT_EQ(run("minisign", {"-G", "-W", "-p", dir.filePath("keys/demo.pub"), "-s", dir.filePath("keys/demo.key")})
                      .exitCode, 0);
        dir.write("release/readme.txt", "read me");
        dir.write("release/maps/forest.ivm", QByteArray(10520, 'f'));
        dir.write("release/maps/coast/harbour.ivm", "harbour");
        dir.write("release/a/x.txt", "x");
        dir.write("release/a-b.txt", "");
        dir.write("site/index.html", "<p>news</p>");
    }

    TempDir dir;
};

TEST_F(Publish, SignedSiteVerifiesWithMinisignAndTheUpdaterAndKeepsTheRestOfTheSite)
{
    const qint64 before = QDateTime::currentSecsSinceEpoch();
    // Relative folders, from the folder that holds them.
    const Result result = publish({"release", "site", "--key", "keys/demo.key", "--expires", "2"}, dir.path());
    const qint64 after = QDateTime::currentSecsSinceEpoch();
    ASSERT_EQ(result.exitCode, 0) << result.err.toStdString();
    EXPECT_TRUE(result.err.isEmpty()) << result.err.toStdString();

    const Result verified = run("minisign", {"-V", "-p", dir.filePath("keys/demo.pub"), "-m", dir.filePath("site/update.sums")});
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
        {"maps/bad.", "maps/bad."},
        {"maps/bad ", "maps/bad "},
        {"a:b.txt", "a:b.txt"},
        {"tab\there.txt", "tab\\there.txt"},
        {"line\nbreak.txt", "line\\nbreak.txt"},
        {"cr\rreturn.txt", "cr\\rreturn.txt"},
        {"latin\xe9.txt", "latin\\xe9.txt"},
        {"maps/old\xff\xfe/x.ivm", "maps/old\\xff\\xfe"},
        {"back\\slash.txt", "back\\slash.txt"},
        {"UPDATE.txt", "UPDATE.txt"},
        {"Renewel.Stamp", "Renewel.Stamp"},
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
        const Result result = publish({dir.filePath("release"), dir.filePath("site")});
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
    const Result help = publish({"--help"});
    EXPECT_EQ(help.exitCode, 0);
    EXPECT_TRUE(help.out.contains("RELEASE_DIR") && help.out.contains("--key") && help.out.contains("--expires"));
    EXPECT_EQ(publish({"--version"}).exitCode, 0);

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
    };
    const auto before = snapshot(dir.path());
    for (const auto& [args, exitCode, message] : bad) {
        SCOPED_TRACE(args.join(' ').toStdString());
        const Result result = publish(args);
        EXPECT_EQ(result.exitCode, exitCode);
        EXPECT_TRUE(result.err.contains(message)) << result.err.toStdString();
        EXPECT_EQ(result.err.count('\n'), 1) << "one line";
        EXPECT_EQ(snapshot(dir.path()), before);
    }
}

}  // namespace
