// renewel-publish's checks driven through its libraries on a site published in the test: verify
// refuses special files without blocking and finds an index whose chunks are in the wrong order
// and a damaged delta; push refuses a remote that is the site itself; a publish after a crash
// writes again a chunk a reused index names but the store lost; a folder swapped for a link
// after the scan gets nothing published; a full disk while chunks are written is named as such.

#include "chunk/ChunkIndex.h"
#include "chunk/ChunkStore.h"
#include "common/PublishError.h"
#include "push/Pusher.h"
#include "release/Publish.h"
#include "trust/Sha256.h"
#include "verify/VerifySite.h"
#include "RandomBytes.h"
#include "TempDir.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <cstring>
#include <functional>
#include <memory>

#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// A site published twice from a release whose big file changed in the middle: its index, the
// delta from the first content's index, and the chunks.
class PublishedSite {
public:
    PublishedSite()
    {
        dir.write("release/readme.txt", "read me");
        dir.write("release/big.dat", big);
        publish();
        big.replace(big.size() / 2, 4096, randomBytes(4096, 2));
        dir.write("release/big.dat", big);
        publish();
    }

    PublishSummary publish()
    {
        PublishOptions options;
        options.releaseDir = dir.filePath("release");
        options.siteDir = site();
        options.now = 1'800'000'000;
        options.chunkMinSize = 64 * 1024;
        return publishRelease(options);
    }

    QString site() const { return dir.filePath("site"); }
    QString index() const { return site() + '/' + ChunkStore::indexName(Sha256::hash(big)); }
    QString delta() const
    {
        const QString folder = site() + '/' + ChunkStore::Folder + QStringLiteral("/index");
        return folder + '/' + QDir(folder).entryList({QStringLiteral("*.cidd")}).value(0);
    }
    QString patch() const
    {
        const QString folder = site() + '/' + ChunkStore::Folder + QStringLiteral("/patches");
        return folder + '/' + QDir(folder).entryList({QStringLiteral("*.patch")}).value(0);
    }
    QString chunk(int which) const
    {
        return site() + '/' + ChunkStore::objectName(ChunkIndex::parse(read(index())).value().chunks.value(which).hash);
    }

    // The problems verify finds, each "SUBJECT: REASON".
    QStringList problems(const QString& publicKey = {}) const
    {
        QStringList lines;
        for (const SiteProblem& problem : verifySite(site(), publicKey, 1'800'000'000).problems)
            lines.append(QFile::decodeName(problem.subject) + QStringLiteral(": ") + problem.reason);
        return lines;
    }

    static QByteArray read(const QString& path)
    {
        QFile file(path);
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
    }
    static void write(const QString& path, const QByteArray& bytes)
    {
        QFile::remove(path);  // a hard link shared with other releases is replaced, not written through
        QFile file(path);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size());
    }
    static void makeFifo(const QString& path)
    {
        QFile::remove(path);
        ASSERT_EQ(::mkfifo(QFile::encodeName(path).constData(), 0600), 0);
    }

    TempDir dir;
    QByteArray big = randomBytes(600 * 1024, 1);
};

}  // namespace

TEST(PublishChecks, VerifyFindsEachFaultAndNeverWaitsOnASpecialFile)
{
    const struct {
        const char* fault;
        std::function<void(PublishedSite&)> make;
        QString subject;  // the end of the path named
        QString reason;
    } cases[] = {
        {"update.txt a FIFO", [](PublishedSite& s) { s.makeFifo(s.site() + "/update.txt"); }, "/update.txt",
         "not a regular file"},
        {"update.sums a FIFO", [](PublishedSite& s) { s.makeFifo(s.site() + "/update.sums"); }, "/update.sums",
         "not a regular file"},
        {"an index a FIFO", [](PublishedSite& s) { s.makeFifo(s.index()); }, ".cidx", "not a regular file"},
        {"a chunk a FIFO", [](PublishedSite& s) { s.makeFifo(s.chunk(1)); }, ".zst", "not a regular file"},
        {"the public key a FIFO", [](PublishedSite& s) { s.makeFifo(s.dir.filePath("studio.pub")); }, "studio.pub",
         "no readable public key file"},
        {"a delta a FIFO", [](PublishedSite& s) { s.makeFifo(s.delta()); }, ".cidd", "not a regular file"},
        {"an index's chunks reordered",
         [](PublishedSite& s) {
             ChunkIndex index = ChunkIndex::parse(s.read(s.index())).value();
             std::swap(index.chunks[0], index.chunks[1]);
             const QByteArray bytes = index.serialize();
             QByteArray sums = s.read(s.site() + "/update.sums");
             sums.replace(Sha256::hash(s.read(s.index())).toHex(), Sha256::hash(bytes).toHex());
             s.write(s.site() + "/update.sums", sums);
             QFile::remove(s.site() + "/update.sums.gz");  // its compressed copy would no longer match
             s.write(s.index(), bytes);
         },
         ".cidx", "its chunks in its order do not make the file it describes"},
        {"a delta with one byte changed",
         [](PublishedSite& s) {
             QByteArray bytes = s.read(s.delta());
             bytes[bytes.size() - 5] = char(bytes[bytes.size() - 5] ^ 0x01);
             s.write(s.delta(), bytes);
         },
         ".cidd", ""},
        {"a patch a FIFO", [](PublishedSite& s) { s.makeFifo(s.patch()); }, ".patch", "not a regular file"},
        {"a patch with one byte changed",
         [](PublishedSite& s) {
             QByteArray bytes = s.read(s.patch());
             bytes[bytes.size() - 5] = char(bytes[bytes.size() - 5] ^ 0x01);
             s.write(s.patch(), bytes);
         },
         ".patch", "does not match its checksum in update.sums"},
    };
    for (const auto& [fault, make, subject, reason] : cases) {
        SCOPED_TRACE(fault);
        PublishedSite site;
        ASSERT_EQ(site.problems(), QStringList()) << "whole before the fault";
        ASSERT_FALSE(site.delta().endsWith('/')) << "the second publish wrote a delta";
        ASSERT_FALSE(site.patch().endsWith('/')) << "and a patch";
        make(site);
        const QStringList problems = site.problems(QString(fault).contains("key") ? site.dir.filePath("studio.pub")
                                                                                   : QString());
        // One line, the fault's own first (an index out of order no longer fits its delta either).
        ASSERT_EQ(problems.size(), QString(fault).contains("reordered") ? 2 : 1) << problems.join('\n').toStdString();
        EXPECT_TRUE(problems[0].contains(subject + ": ") && problems[0].contains(reason)) << problems[0].toStdString();
    }
}

TEST(PublishChecks, PushRefusesARemoteThatIsTheSiteOrInsideOrAroundIt)
{
    PublishedSite site;
    const QString releases = site.site() + ".releases";
    const QString refused[] = {
        site.site(),
        site.site() + "/",
        releases,
        releases + "/chunks",
        site.site() + "/chunks/index",
        QFileInfo(site.site() + "/update.txt").canonicalPath(),  // the release the site links to
        site.dir.path(),                                          // around the site
        ":local:" + site.site(),
    };
    for (const QString& remote : refused) {
        SCOPED_TRACE(remote.toStdString());
        try {
            Pusher({site.site(), remote}).run();
            ADD_FAILURE() << "pushed";
        } catch (const PublishError& error) {
            EXPECT_TRUE(error.reason.contains("the site's own folder")) << error.reason.toStdString();
        }
        EXPECT_EQ(site.problems(), QStringList());
    }
    // A folder beside the site is a remote like any other.
    const PushSummary pushed = Pusher({site.site(), site.dir.filePath("origin")}).run();
    EXPECT_TRUE(pushed.sent.contains("update.txt"));
    EXPECT_EQ(PublishedSite::read(site.dir.filePath("origin/big.dat")), site.big);
}

TEST(PublishChecks, APublishAfterACrashWritesAgainTheChunksAReusedIndexNamesButTheStoreLost)
{
    const struct {
        const char* loss;
        std::function<void(const QString&)> make;
    } cases[] = {
        {"emptied", [](const QString& chunk) { PublishedSite::write(chunk, {}); }},
        {"cut short", [](const QString& chunk) { PublishedSite::write(chunk, PublishedSite::read(chunk).chopped(1)); }},
        {"gone", [](const QString& chunk) { QFile::remove(chunk); }},
    };
    for (const auto& [loss, make] : cases) {
        SCOPED_TRACE(loss);
        PublishedSite site;
        make(site.chunk(2));
        const PublishSummary summary = site.publish();
        EXPECT_EQ(summary.chunks.chunksWritten, 1);
        EXPECT_EQ(site.problems(), QStringList());
    }
}

namespace {

// Runs an action when copying begins: after the release was scanned, before a file is read.
class OnCopyingBegun : public ProgressMeter {
public:
    explicit OnCopyingBegun(std::function<void()> action) : action_(std::move(action)) {}
    void begin(int, qint64) override
    {
        if (action_)
            std::exchange(action_, {})();
    }

private:
    std::function<void()> action_;
};

PublishOptions optionsFor(const TempDir& dir, const QString& site)
{
    PublishOptions options;
    options.releaseDir = dir.filePath("release");
    options.siteDir = dir.filePath(site);
    options.now = 1'800'000'000;
    options.chunkMinSize = 64 * 1024;
    return options;
}

}  // namespace

TEST(PublishChecks, AFolderSwappedForALinkAfterTheScanGetsNothingPublished)
{
    TempDir dir;
    dir.write("release/readme.txt", "read me");
    dir.write("release/maps/forest.ivm", "forest");
    dir.write("outside/forest.ivm", "not the studio's");
    OnCopyingBegun swap([&] {
        QDir(dir.filePath("release/maps")).removeRecursively();
        QFile::link(dir.filePath("outside"), dir.filePath("release/maps"));
    });
    try {
        publishRelease(optionsFor(dir, "site"), swap);
        ADD_FAILURE() << "published";
    } catch (const PublishError& error) {
        EXPECT_TRUE(error.subject.endsWith("release/maps/forest.ivm")) << error.subject.toStdString();
        EXPECT_TRUE(error.reason.contains("not the file the release folder held")) << error.reason.toStdString();
    }
    EXPECT_FALSE(dir.exists("site"));
    EXPECT_FALSE(dir.exists("site.releases"));
}

TEST(PublishChecks, AFullDiskWhileChunksAreWrittenGivesTheSystemsReason)
{
    if (::geteuid() != 0)
        GTEST_SKIP() << "mounting a small tmpfs needs root";
    TempDir dir;
    const QByteArray disk = QFile::encodeName(dir.filePath("disk"));
    QDir().mkpath(dir.filePath("disk"));
    ASSERT_EQ(::mount("tmpfs", disk.constData(), "tmpfs", 0, "size=1m"), 0) << std::strerror(errno);
    const std::unique_ptr<const char, int (*)(const char*)> unmount(disk.constData(), ::umount);
    dir.write("release/big.dat", randomBytes(600 * 1024, 1));  // fits once, not twice (its chunks)
    try {
        publishRelease(optionsFor(dir, "disk/site"));
        ADD_FAILURE() << "published";
    } catch (const PublishError& error) {
        EXPECT_TRUE(error.reason.contains("/chunks/") && error.reason.endsWith(": No space left on device"))
            << error.reason.toStdString();
    }
    EXPECT_FALSE(dir.exists("disk/site"));
}
