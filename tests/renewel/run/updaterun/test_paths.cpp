// Listed paths: where they land on disk and on the site, and the ones that are never written.

#include "UpdateFixture.h"
#include "run/install/UpdateFiles.h"

#include "site/ListedPath.h"
#include "trust/Sha256.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <functional>

#include <sys/stat.h>

namespace {
// update.sums is fetched beside update.txt, and may be cut off before it is asked for when the
// list is refused.
bool onlyLists(const QList<QByteArray>& paths)
{
    return paths.value(0) == "/update.txt" && paths.size() <= 2 && (paths.size() < 2 || paths[1] == "/update.sums");
}
QString withoutTemp(QStringList entries)
{
    entries.removeAll("game/temp");
    entries.removeAll("game/temp/update.txt");
    entries.removeAll("game/renewel.state");
    return entries.join(' ');
}
}  // namespace

TEST_F(UpdateFixture, UnsafeListedPathsAreNeverWritten)
{
    const QList<QByteArray> unsafe = {
        "\\..\\evil.txt",       "\\a\\..\\..\\evil.txt", "\\\\server\\evil.txt", "\\/evil.txt",
        "\\C:\\evil.txt",       "C:\\evil.txt",          "/evil.txt",            "evil.txt",
        "\\a\\",                "\\.",                   "\\..",                 "\\a\\.",
        "\\",                   "\\a\\\\b",              "\\ev\til.txt",         "\\a/../../evil.txt",
        "\\.. \\evil.txt",     "\\a\\...",
        "\\temp\\x.bin",        "\\TEMP/x.bin",          "\\temp",
        "\\" + QByteArray(MaxListedPathBytes, 'p'),  // one byte too long
        "\\" + QByteArray(8 * 1024 * 1024, 'p'),
    };
    publish("temp/x.bin", "pwned");
    publish("evil.txt", "pwned");
    publish("a/evil.txt", "pwned");
    install("keep.txt", "keep");
    for (const bool beQuiet : {false, true}) {
        for (const QByteArray& path : unsafe) {
            SCOPED_TRACE((beQuiet ? "quiet " : "") + path.left(40).toStdString() + " (" + std::to_string(path.size()) + ")");
            quiet = beQuiet;
            host.events.clear();
            const int requestsBefore = server.requestCount();
            const QString before = withoutTemp(allEntries());
            publishList({path, "5"});

            const UpdateOutcome outcome = update();

            EXPECT_EQ(outcome.kind, UpdateOutcome::Failed);
            EXPECT_LE(outcome.subject.size(), 200);  // a huge path is cut in the report
            EXPECT_TRUE(onlyLists(requestedPaths().mid(requestsBefore)));
            EXPECT_EQ(withoutTemp(allEntries()), before);
            EXPECT_TRUE(inTemp("update.txt"));  // stopped like a failed download
            const QList<QByteArray> end = quiet ? QList<QByteArray>{"terminate"}
                                                : QList<QByteArray>{"message Download failed", "terminate"};
            EXPECT_EQ(host.events.mid(host.events.size() - end.size()), end);
            EXPECT_FALSE(host.events.contains("message All done"));
        }
    }
}

TEST_F(UpdateFixture, NothingIsWrittenThroughALinkLeavingTheInstallation)
{
    TempDir outside;
    outside.write("keep.txt", "outside");
    install("data/keep.txt", "inside");
    ASSERT_TRUE(QFile::link(outside.path(), root.filePath("game/out")));
    ASSERT_TRUE(QFile::link(root.filePath("game/data"), root.filePath("game/alias")));
    publish("out/x.bin", "12345");
    publish("out/sub/x.bin", "12345");
    publish("alias/y.bin", "67890");
    const std::vector<std::pair<QByteArray, UpdateOutcome::Kind>> cases = {
        {"\\out\\x.bin", UpdateOutcome::Failed},
        {"\\out\\sub\\x.bin", UpdateOutcome::Failed},        // a folder to be made out there
        {"\\alias\\y.bin", UpdateOutcome::Completed},       // a link that stays inside is fine
    };
    for (const auto& [listed, kind] : cases) {
        SCOPED_TRACE(listed.toStdString());
        publishList({listed, "5"});
        EXPECT_EQ(update().kind, kind);
    }
    EXPECT_EQ(QDir(outside.path()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden),
              QStringList{"keep.txt"});
    EXPECT_EQ(installed("data/y.bin"), "67890");

    // The download folder itself as a link out of the installation: nothing goes through it.
    QDir(root.filePath("game/temp")).removeRecursively();
    ASSERT_TRUE(QFile::link(outside.path(), root.filePath("game/temp")));
    publishList({"\\data\\z.bin", "5"});
    publish("data/z.bin", "abcde");
    EXPECT_EQ(update().kind, UpdateOutcome::Failed);
    EXPECT_EQ(QDir(outside.path()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden),
              QStringList{"keep.txt"});
}

TEST(ListedPathTest, LengthLimit)
{
    EXPECT_TRUE(ListedPath("\\" + QByteArray(MaxListedPathBytes - 1, 'p')).isSafe());
    EXPECT_FALSE(ListedPath("\\" + QByteArray(MaxListedPathBytes, 'p')).isSafe());
}

TEST(ListedPathTest, MapsOntoInstallFolderAndSiteAddress)
{
    const QString base = QStringLiteral("/opt/game");
    const ListedPath path("\\maps\\green hill\\r\xc3\xa9seau#1.ivm");
    ASSERT_TRUE(path.isSafe());
    EXPECT_EQ(path.installPath(base), QDir::toNativeSeparators(QString::fromUtf8("/opt/game/maps/green hill/r\u00e9seau#1.ivm")));
    EXPECT_EQ(path.installFolder(base), QDir::toNativeSeparators("/opt/game/maps/green hill"));
    EXPECT_EQ(path.fileName(), QString::fromUtf8("r\u00e9seau#1.ivm"));
    EXPECT_EQ(path.url("http://h/up/"), "http://h/up/maps/green%20hill/r%C3%A9seau%231.ivm");
    EXPECT_EQ(path.url("http://h/up"), "http://h/up/maps/green%20hill/r%C3%A9seau%231.ivm");

    // Windows-1252 names (not UTF-8) are decoded once and addressed as UTF-8.
    const ListedPath ansi("\\r\xe9seau.ivm");
    EXPECT_EQ(ansi.fileName(), QString::fromUtf8("r\u00e9seau.ivm"));
    EXPECT_EQ(ansi.url("http://h/"), "http://h/r%C3%A9seau.ivm");

    EXPECT_EQ(ListedPath("\\top.exe").installFolder(base), base);
}

// One file, many spellings: the folded key, the folders above and the release's relative path.
TEST(ListedPathTest, SpellingsOfOneFileShareTheFoldedKey)
{
    const struct {
        QByteArray a, b;
        bool same;
    } keys[] = {
        {"\\data\\keep.dat", "\\data/keep.dat", true},
        {"\\Data\\KEEP.dat", "\\data\\keep.dat", true},
        {"\\d\\\xc3\x84", "\\d\\\xc3\xa4", true},     // Ä ä
        {"\\\xc3\xa4", "\\\xe4", true},                  // UTF-8 and Windows-1252
        {"\\\xef\xbc\xa1", "\\\xef\xbd\x81", true},       // Ａ ａ
        {"\\data\\keep.dat", "\\data\\keep.da", false},
    };
    for (const auto& k : keys)
        EXPECT_EQ(ListedPath::foldedKey(k.a) == ListedPath::foldedKey(k.b), k.same) << k.a.toStdString() << " " << k.b.toStdString();

    EXPECT_EQ(ListedPath::foldersAbove("\\a\\b/c\\f.dat"), QList<QByteArray>({"\\a", "\\a\\b", "\\a\\b/c"}));
    EXPECT_EQ(ListedPath::foldersAbove("\\top.dat"), QList<QByteArray>());
    EXPECT_EQ(ListedPath::parent("\\a/b"), "\\a");
    EXPECT_EQ(ListedPath::fromRelative("maps/coast/h.ivm"), "\\maps\\coast\\h.ivm");
    EXPECT_EQ(ListedPath::toRelative("\\maps/coast\\h.ivm"), "maps/coast/h.ivm");
}

TEST(UpdateHelpers, LocalFileSize)
{
    TempDir dir;
    EXPECT_EQ(LocalFileSize(dir.write("five.bin", "12345")), 5);
    EXPECT_EQ(LocalFileSize(dir.write("empty.bin", "")), 0);
    EXPECT_EQ(LocalFileSize(dir.filePath("missing.bin")), 0);
    EXPECT_FALSE(dir.exists("missing.bin"));  // looking never creates it
    EXPECT_EQ(LocalFileSize(dir.path()), 0);   // a folder is no file
#ifdef Q_OS_LINUX
    // A running program can't be opened for writing.
    EXPECT_EQ(LocalFileSize(QCoreApplication::applicationFilePath()), 0);
#endif
    // Sizes beyond 32 bits (a sparse file).
    QFile big(dir.filePath("big.bin"));
    ASSERT_TRUE(big.open(QIODevice::WriteOnly));
    ASSERT_TRUE(big.resize(5'000'000'000LL));
    big.close();
    EXPECT_EQ(LocalFileSize(big.fileName()), 5'000'000'000LL);
}

TEST(UpdateHelpers, EnsureFolder)
{
    TempDir dir;
    dir.write("file", "x");
    const QString sep = QDir::separator();
    struct Case {
        QString folder;
        bool expected;
        bool existsAfter;
    };
    const std::vector<Case> cases = {
        {"", true, false},
        {"ab", true, false},
        {dir.path(), true, true},
        {dir.path() + sep, true, true},
        {dir.filePath("a/b/c") + sep, true, true},
        {dir.filePath("file/sub"), false, false},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(EnsureFolder(c.folder).ok(), c.expected) << c.folder.toStdString();
        if (c.existsAfter) {
            EXPECT_TRUE(QFileInfo(c.folder).isDir()) << c.folder.toStdString();
        }
    }
    EXPECT_TRUE(dir.exists("a/b/c"));
}

TEST(UpdateHelpers, FolderNames)
{
    EXPECT_EQ(StripTrailingBackslash("C:\\Games\\"), "C:\\Games");
    EXPECT_EQ(StripTrailingBackslash("C:\\Games"), "C:\\Games");
    EXPECT_EQ(StripTrailingBackslash(""), "");
    EXPECT_EQ(StripTrailingBackslash("\\\\"), "\\");
    const QString sep = QDir::separator();
    EXPECT_EQ(InstallBase("/opt/game" + sep), "/opt/game");
    EXPECT_EQ(DownloadFolder("/opt/game" + sep), "/opt/game" + sep + "temp");
}

TEST_F(UpdateFixture, ListsNamingAFileTwiceOrRenewelsOwnFilesInstallNothing)
{
    publish("a.txt", "new a");
    publish("renewel.lng", "#UpdateSite http://elsewhere/\r\n");
    install("a.txt", "old");
    const struct {
        QList<QByteArray> lines;
        QString reason;
    } cases[] = {
        {{"\\a.txt", "5", "\\a.txt", "5"}, "the update list names this file twice"},
        {{"\\a.txt", "5", "\\maps\\..\\A.TXT", "5"}, "unsafe path in the update list"},
        {{"\\a.txt", "5", "\\A.Txt", "5"}, "the update list names this file twice"},
        {{"\\a.txt", "5", "\\renewel.lng", "31"}, "the update list names one of the updater's own files"},
        {{"\\RENEWEL.LOCK", "1"}, "the update list names one of the updater's own files"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.lines.join(' ').toStdString());
        const int requestsBefore = server.requestCount();
        publishList(c.lines);
        const UpdateOutcome outcome = update();
        EXPECT_EQ(outcome.kind, UpdateOutcome::Failed);
        EXPECT_EQ(outcome.reason, c.reason);
        EXPECT_TRUE(onlyLists(requestedPaths().mid(requestsBefore)));
        EXPECT_EQ(installed("a.txt"), "old");
        EXPECT_NE(root.read("renewel.lng").left(12), "#UpdateSite h");
    }
}

// Links, pipes and devices in the download folder are leftovers, never data: nothing is written
// through them, nothing of their targets is sent, and what is installed is a regular file.
TEST_F(UpdateFixture, SpecialFilesInTheDownloadFolderAreNeverFollowed)
{
    TempDir outside;
    const QString target = outside.write("target.txt", "If-Range secret\n");
    publish("a.txt", "new a!");
    publishList({"\\a.txt", "6"});
    const QString part = "temp/a.txt." + QString::fromLatin1(Sha256::hash("\\a.txt").toHex().left(32)) + ".part";
    const std::function<void()> plant[] = {
        [&] { QFile::link(target, root.filePath("game/" + part)); },
        [&] { QFile::link(target, root.filePath("game/temp/update.txt")); },
        [&] {
            root.write("game/" + part, "new");  // a partial download to continue...
            QFile::link(target, root.filePath("game/" + part + ".validator"));  // ...with a linked validator
        },
        [&] { ::mkfifo(QFile::encodeName(root.filePath("game/" + part)).constData(), 0600); },
        [&] { ::mkfifo(QFile::encodeName(root.filePath("game/temp/update.txt")).constData(), 0600); },
    };
    for (size_t i = 0; i < std::size(plant); ++i) {
        SCOPED_TRACE(i);
        install("a.txt", "old");
        QDir().mkpath(root.filePath("game/temp"));
        plant[i]();
        const int seen = server.requestCount();
        ASSERT_EQ(update().kind, UpdateOutcome::Completed);
        EXPECT_EQ(installed("a.txt"), "new a!");
        EXPECT_FALSE(QFileInfo(root.filePath("game/a.txt")).isSymLink());
        EXPECT_EQ(outside.read("target.txt"), "If-Range secret\n");
        for (const QByteArray& request : server.requests().mid(seen))
            EXPECT_FALSE(request.contains("secret"));
        EXPECT_FALSE(root.exists("game/temp")) << "a completed run leaves no leftover";
    }
}
