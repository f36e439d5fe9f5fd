// Signed update sites: keys made and lists signed by the real minisign tool, served by the fault
// server. What the run accepts and installs, what it refuses (and that it then installs nothing),
// and what a repair fetches again.

#include "UpdateFixture.h"

#include <algorithm>

#include "trust/Sha256.h"

#include <QDateTime>
#include <QDir>
#include <QFileInfo>
#include <QProcess>

#include <fcntl.h>
#include <sys/stat.h>

#include <functional>
#include <utility>

namespace {

QList<QByteArray> since(const QList<QByteArray>& paths, qsizetype count) { return paths.mid(count); }

// A site without update.head: asked for first (404), then the lists as always.
const QList<QByteArray> kLists = {"/update.head", "/update.txt", "/update.sums", "/update.sums.minisig"};

class SignedUpdate : public UpdateFixture {
protected:
    static void SetUpTestSuite()
    {
        keys = new TempDir;
        for (const QString name : {"a", "b"})
            RunMinisign({"-G", "-W", "-p", keys->filePath(name + ".pub"), "-s", keys->filePath(name + ".key")});
    }
    static void TearDownTestSuite()
    {
        delete keys;
        keys = nullptr;
    }

    void SetUp() override
    {
        UpdateFixture::SetUp();
        useKey("a");
    }

    // The language file names the update key of the given pair (none: no key at all).
    void useKey(const QString& name)
    {
        const QByteArray key = name.isEmpty() ? QByteArray() : keys->read(name + ".pub").split('\n').value(1);
        useSite(server.url("/").toLatin1(), key.isEmpty() ? QByteArray() : "#UpdateKey " + key + "\r\n");
    }

    // Puts the files on the site and lists them in update.txt with their sizes.
    void publishFiles(const QList<std::pair<QByteArray, QByteArray>>& files)
    {
        listed.clear();
        QList<QByteArray> lines;
        for (const auto& [path, bytes] : files) {
            publish(QString::fromLatin1(path.mid(1)).replace('\\', '/'), bytes);
            lines << path << QByteArray::number(bytes.size());
            listed << path;
        }
        publishList(lines);
    }

    // Writes update.sums for the site's update.txt and listed files (but `without`) and signs it.
    void signSite(const QByteArray& comment, const QString& key = "a", const QByteArray& without = {})
    {
        QByteArray sums = Sha256::hash(site.read("update.txt")).toHex() + "  update.txt\n";
        for (const QByteArray& path : listed) {
            if (path != without)
                sums += Sha256::hash(site.read(QString::fromLatin1(path.mid(1)).replace('\\', '/'))).toHex() + "  " + path + "\n";
        }
        const QString file = site.write("update.sums", sums);
        RunMinisign({"-S", "-s", keys->filePath(key + ".key"), "-m", file, "-x", file + ".minisig", "-t",
                  QString::fromLatin1(comment)});
    }

    static QByteArray timestamp(qint64 secondsFromNow)
    {
        return QByteArray::number(QDateTime::currentSecsSinceEpoch() + secondsFromNow);
    }

    QByteArray stamp() const { return root.read("game/renewel.stamp"); }

    static inline TempDir* keys = nullptr;
    QList<QByteArray> listed;
};

TEST_F(SignedUpdate, ValidSiteInstallsAndStoresTheNewerTimestamp)
{
    install("a.txt", "old");
    root.write("game/renewel.stamp", "1000\n");
    publishFiles({{"\\a.txt", "new a"}, {"\\maps\\b.ivm", "map"}});
    const QByteArray signedAt = timestamp(-60);
    signSite("timestamp:" + signedAt + " expires:" + timestamp(3600));

    const UpdateOutcome outcome = update();

    ASSERT_EQ(outcome.kind, UpdateOutcome::Completed) << outcome.reason.toStdString();
    QList<QByteArray> paths = requestedPaths();  // the files come in parallel, in any order
    std::sort(paths.begin() + std::min(kLists.size(), paths.size()), paths.end());
    EXPECT_EQ(paths, kLists + QList<QByteArray>({"/a.txt", "/maps/b.ivm"}));
    EXPECT_EQ(installed("a.txt"), "new a");
    EXPECT_EQ(installed("maps/b.ivm"), "map");
    EXPECT_EQ(stamp(), signedAt + "\n");
    // Neither list is installed, and the download folder is gone.
    EXPECT_EQ(allEntries(), (QStringList{"game", "game/a.txt", "game/maps", "game/maps/b.ivm", "game/renewel.stamp",
                                         "game/renewel.state", "renewel.lng"}));
    EXPECT_EQ(host.messages, QList<QByteArray>{"All done"});
}

// Checked against the signed list, and against an unsigned update.sums the site has when the
// language file names no key.
TEST_F(SignedUpdate, SameSizeTamperedFileIsNotInstalledAndStopsTheRun)
{
    for (const bool keyed : {true, false}) {
        SCOPED_TRACE(keyed ? "signed" : "no key, checksums only");
        host.events.clear();
        useKey(keyed ? "a" : "");
        QList<std::pair<QByteArray, QByteArray>> files;
        for (const char* name : {"f1.dat", "f2.dat", "f3.dat"}) {
            install(name, "old");
            files.append({"\\" + QByteArray(name), QByteArray(10, name[1])});
        }
        publishFiles(files);
        signSite("timestamp:" + timestamp(0));
        publish("f2.dat", "0123456789");

        const UpdateOutcome outcome = update();

        EXPECT_EQ(outcome.kind, UpdateOutcome::Failed);
        EXPECT_EQ(outcome.subject, server.url("/f2.dat"));
        EXPECT_TRUE(outcome.reason.contains("hash")) << outcome.reason.toStdString();
        EXPECT_EQ(installed("f1.dat"), "old");  // the release is not switched
        EXPECT_EQ(installed("f2.dat"), "old");
        EXPECT_EQ(installed("f3.dat"), "old");
        EXPECT_EQ(host.events.mid(host.events.size() - 2),
                  (QList<QByteArray>{"message Download failed", "terminate"}));
    }
}

TEST_F(SignedUpdate, RefusedListOrBodyInstallsNothing)
{
    struct Case {
        const char* what;
        std::function<void()> arrange;  // after a valid site has been signed
        QString reason;                 // part of the refusal
        bool listRefused;               // nothing fetched beyond the lists, no stamp written
    };
    const Case cases[] = {
        {"tampered update.txt",
         [&] {
             publish("evil.exe", "evil");
             site.write("update.txt", site.read("update.txt") + "\\evil.exe\r\n4\r\n");
         },
         "update.txt does not match", true},
        {"no checksum list", [&] { QFile::remove(site.filePath("update.sums")); }, "no checksum list", true},
        {"no signature", [&] { QFile::remove(site.filePath("update.sums.minisig")); }, "no signature", true},
        {"listed path without a checksum", [&] { signSite("timestamp:" + timestamp(0), "a", "\\a.txt"); },
         "no checksum for \\a.txt", true},
        {"signed with another key", [&] { signSite("timestamp:" + timestamp(0), "b"); }, "wrong key", true},
        {"older than the last accepted list", [&] { root.write("game/renewel.stamp", timestamp(1000) + "\n"); },
         "replayed list", true},
        {"expired", [&] { signSite("timestamp:" + timestamp(-7200) + " expires:" + timestamp(-1)); },
         "expired list", true},
        {"damaged stamp", [&] { root.write("game/renewel.stamp", "garbage\n"); }, "renewel.stamp: damaged", true},
        {"empty UpdateKey line", [&] { useSite(server.url("/").toLatin1(), "#UpdateKey\r\n"); }, "invalid UpdateKey",
         true},
        // With a key, a list's format is read only once it is signed, and refused like any other.
        {"signed list with a bad size line",
         [&] {
             site.write("update.txt", "list\r\n\\a.txt\r\ntwelve\r\n");
             signSite("timestamp:" + timestamp(0));
         },
         "malformed list ('twelve' is not a valid integer value)", true},
        {"one file listed twice",
         [&] {
             site.write("update.txt", "list\r\n\\a.txt\r\n5\r\n\\A.TXT\r\n5\r\n");
             signSite("timestamp:" + timestamp(0));
         },
         "names this file twice", true},
        {"renewel's own file listed",
         [&] {
             publishFiles({{"\\a.txt", "new a"}, {"\\Renewel.Stamp", "1\n"}});
             signSite("timestamp:" + timestamp(0));
         },
         "names one of the updater's own files", true},
        {"body longer than listed", [&] { publish("a.txt", "new a, and then some"); }, "too long", false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        useKey("a");
        QFile::remove(root.filePath("game/renewel.stamp"));
        install("a.txt", "old");
        publishFiles({{"\\a.txt", "new a"}});
        signSite("timestamp:" + timestamp(0));
        c.arrange();
        const QByteArray stampBefore = stamp();
        const qsizetype requestsBefore = requestedPaths().size();

        const UpdateOutcome outcome = update();

        EXPECT_EQ(outcome.kind, UpdateOutcome::Failed);
        EXPECT_TRUE(outcome.reason.contains(c.reason)) << outcome.reason.toStdString();
        EXPECT_EQ(installed("a.txt"), "old");
        EXPECT_FALSE(host.messages.contains("All done"));
        EXPECT_EQ(host.events.last(), "terminate") << "a refusal is one line, never the error report";
        if (c.listRefused) {
            EXPECT_EQ(outcome.subject, server.url("/update.txt"));
            const QList<QByteArray> fetched = since(requestedPaths(), requestsBefore);
            // With a damaged stamp the head is not asked for: the lists' check reports the stamp.
            const QList<QByteArray> lists = fetched.value(0) == kLists.value(0) ? kLists : kLists.mid(1);
            EXPECT_EQ(fetched, lists.mid(0, fetched.size()));
            EXPECT_EQ(stamp(), stampBefore);
        } else {
            EXPECT_EQ(outcome.subject, server.url("/a.txt"));
        }
    }
}

// With checksums, installed files are compared by content; the record spares reading a file
// that has not changed since it was hashed, and a repair reads every file all the same.
TEST_F(SignedUpdate, SameSizeChangesAreFetchedAndRepairIgnoresTheRecord)
{
    publishFiles({{"\\a.txt", "intact"}, {"\\data\\b.dat", "bbbbbb"}});
    signSite("timestamp:" + timestamp(0));
    install("a.txt", "intact");
    install("data/b.dat", "bXbbbb");

    ASSERT_EQ(update().kind, UpdateOutcome::Completed);
    EXPECT_EQ(installed("data/b.dat"), "bbbbbb") << "same size, other content";
    EXPECT_EQ(since(requestedPaths(), kLists.size()), QList<QByteArray>({"/data/b.dat"}));

    // Damaged behind renewel's back, with the size, time and inode it had: the record vouches for
    // it, so only a repair notices.
    const QString b = root.filePath("game/data/b.dat");
    struct stat before {};
    ASSERT_EQ(::stat(QFile::encodeName(b).constData(), &before), 0);
    {
        QFile file(b);
        ASSERT_TRUE(file.open(QIODevice::ReadWrite));
        file.write("Z");
    }
    const struct timespec times[2] = {before.st_atim, before.st_mtim};
    ASSERT_EQ(::utimensat(AT_FDCWD, QFile::encodeName(b).constData(), times, 0), 0);
    const qsizetype seen = requestedPaths().size();
    ASSERT_EQ(update().kind, UpdateOutcome::Completed);
    EXPECT_EQ(since(requestedPaths(), seen), kLists);
    EXPECT_EQ(installed("data/b.dat"), "Zbbbbb");

    repair = true;
    const UpdateOutcome outcome = update();
    ASSERT_EQ(outcome.kind, UpdateOutcome::Completed) << outcome.reason.toStdString();
    EXPECT_EQ(installed("data/b.dat"), "bbbbbb");
    EXPECT_EQ(installed("a.txt"), "intact");
    // A repair reads every file again whatever the head says: it does not ask for one.
    EXPECT_EQ(since(requestedPaths(), seen + kLists.size()), kLists.mid(1) + QList<QByteArray>({"/data/b.dat"}));
}

// A release that writes a listed path with the other separator names the same file: it is kept,
// neither deleted as dropped nor fetched again, and the folders renewel made for it stay.
TEST_F(SignedUpdate, AFileListedInAnotherSpellingIsKept)
{
    const std::pair<QByteArray, QByteArray> spellings[] = {
        {"\\a\\keep.dat", "\\a/keep.dat"},
        {"\\b/keep.dat", "\\b\\keep.dat"},
        {"\\c\\d\\keep.dat", "\\c/d/keep.dat"},
    };
    qint64 clock = 0;  // each list newer than the last
    for (const auto& [first, second] : spellings) {
        SCOPED_TRACE(second.toStdString());
        publishFiles({{first, "keep me"}});
        signSite("timestamp:" + timestamp(++clock));
        ASSERT_EQ(update().kind, UpdateOutcome::Completed);
        const QString installedName = QString::fromLatin1(first.mid(1)).replace('\\', '/');
        ASSERT_EQ(installed(installedName), "keep me");

        publishFiles({{second, "keep me"}});
        signSite("timestamp:" + timestamp(++clock));
        ASSERT_EQ(update().kind, UpdateOutcome::Completed);
        EXPECT_EQ(installed(installedName), "keep me");
        const qsizetype seen = requestedPaths().size();
        ASSERT_EQ(update().kind, UpdateOutcome::Completed);
        EXPECT_EQ(since(requestedPaths(), seen), kLists) << "nothing to fetch";
        EXPECT_EQ(installed(installedName), "keep me");
    }
}

// Nothing renewel opens may wait on a pipe: not a listed file that repair hashes.
TEST_F(SignedUpdate, RepairNeverBlocksOnAPipe)
{
    publishFiles({{"\\empty.dat", ""}, {"\\a.txt", "a"}});
    signSite("timestamp:" + timestamp(0));
    install("a.txt", "a");
    ASSERT_EQ(::mkfifo(QFile::encodeName(root.filePath("game/empty.dat")).constData(), 0600), 0);
    repair = true;
    const UpdateOutcome outcome = update();
    ASSERT_EQ(outcome.kind, UpdateOutcome::Completed) << outcome.reason.toStdString();
    EXPECT_TRUE(QFileInfo(root.filePath("game/empty.dat")).isFile());
    EXPECT_EQ(installed("empty.dat"), "");
}

}  // namespace
