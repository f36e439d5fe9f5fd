// push against a WebDAV origin (rclone serve webdav: no times, no hashes): what the origin lacks is
// sent whatever the push record says, nothing is sent again when nothing changed, a file the
// live lists name is replaced by a move, never rewritten in place, and each object is told as
// rclone reports it.

#include "PublishFixture.h"
#include "RandomBytes.h"
#include "push/Pusher.h"
#include "store/StoreObjects.h"


#include <sys/stat.h>

namespace {

using namespace publishtest;

// A WebDAV origin; remote() names it for rclone. No listing cache: the tests change the folder
// behind the server's back.
class WebDavServer : public RcloneServer {
public:
    explicit WebDavServer(const TempDir& dir) : RcloneServer(dir, "webdav", {"--dir-cache-time", "0s"}) {}
    QString remote() const { return QStringLiteral(":webdav,url='http://127.0.0.1:%1/',vendor=other:").arg(port()); }
};

quint64 inodeOf(const QString& path)
{
    struct stat status {};
    return ::stat(QFile::encodeName(path).constData(), &status) == 0 ? status.st_ino : 0;
}

// Whether a child of this process other than the server is running rclone.
bool rcloneRunning(qint64 server)
{
    for (const QString& pid : QDir("/proc").entryList(QDir::Dirs)) {
        QFile stat("/proc/" + pid + "/stat");
        const QList<QByteArray> fields = stat.open(QIODevice::ReadOnly) ? stat.readAll().split(' ') : QList<QByteArray>();
        if (fields.size() > 3 && fields[1] == "(rclone)" && fields[3].toLongLong() == ::getpid() && pid.toLongLong() != server)
            return true;
    }
    return false;
}

class PushToWebDav : public Publish {
protected:
    // Pushes through the library; the objects in the order they were told sent.
    QStringList push()
    {
        QStringList told;
        const auto sent = [&](const QString& object) {
            told << object;
            toldWhileRunning = toldWhileRunning || rcloneRunning(origin.pid());
        };
        const PushSummary summary = Pusher({dir.filePath("site"), origin.remote()}, ProgressMeter::silent(), {sent, {}}).run();
        EXPECT_EQ(told, summary.sent);
        return told;
    }

    // The origin serves the site whole: every listed file and every store object.
    void expectWhole()
    {
        EXPECT_EQ(siteFault(dir, origin.root()), QString());
        for (const QString& object : storeObjectsOf(dir.filePath("site")).chunks)
            EXPECT_EQ(dir.read("origin/" + object), dir.read("site/" + object)) << object.toStdString();
        EXPECT_FALSE(dir.exists("origin/" + Pusher::StagingFolder));
    }

    WebDavServer origin{dir};
    bool toldWhileRunning = false;  // an object was told sent while rclone was still at work
};

TEST_F(PushToWebDav, SendsWhatTheOriginLacksNothingTwiceAndReplacesLiveFilesByAMove)
{
    ASSERT_TRUE(origin.ready());
    dir.write("release/maps/big.ivm", randomBytes(1536 * 1024, 1));
    ASSERT_EQ(publishSigned().exitCode, 0);
    const QStringList all = push();
    EXPECT_EQ(all.mid(all.size() - 6), (QStringList{"update.sums.minisig", "update.sums.gz", "update.sums",
                                                    "update.txt.gz", "update.txt", "update.head"}));
    EXPECT_TRUE(toldWhileRunning) << "each object is told as rclone reports it, not when its batch ends";
    expectWhole();

    const struct {
        const char* step;
        std::function<void()> make;
        QStringList sent;
    } steps[] = {
        {"nothing changed", [] {}, {}},
        // A new bucket under the remote's name: the record's word is not taken for it.
        {"origin emptied", [&] { QDir(origin.root()).removeRecursively(), QDir().mkpath(origin.root()); }, all},
        {"a chunk lost", [&] { QFile::remove(dir.filePath("origin/" + all.value(0))); }, {all.value(0)}},
        {"a file cut short", [&] { dir.write("origin/readme.txt", "read"); }, {"readme.txt"}},
    };
    for (const auto& [step, make, sent] : steps) {
        SCOPED_TRACE(step);
        make();
        QStringList pushed = push(), expected = sent;
        pushed.sort();
        expected.sort();
        EXPECT_EQ(pushed, expected);
        expectWhole();
    }

    dir.write("release/readme.txt", "changed");
    ASSERT_EQ(publishSigned().exitCode, 0);
    const quint64 before = inodeOf(dir.filePath("origin/readme.txt"));
    EXPECT_EQ(push(), (QStringList{"readme.txt", "update.sums.minisig", "update.sums.gz", "update.sums",
                                   "update.txt.gz", "update.txt", "update.head"}));
    EXPECT_NE(inodeOf(dir.filePath("origin/readme.txt")), before) << "moved over its name, not rewritten in place";
    EXPECT_EQ(dir.read("origin/readme.txt"), "changed");
    expectWhole();
}

}  // namespace
