// Updates by binary patch: sites published by renewel-publish's library (release 1 alone, release
// 1 then 2, and 1, 2 then 3), served by the fault server; installations of an earlier release
// updated to the latest. What is fetched is read from the server's requests, and every file must
// end as the latest release has it.

#include "UpdateFixture.h"

#include "../../chunk/ChunkTestData.h"
#include "release/Publish.h"
#include "site/Sums.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <fcntl.h>
#include <sys/stat.h>

namespace {

const QByteArray Big1 = testContent(1 << 20, 7);
const QByteArray Small1 = testContent(40000, 8);
const QByteArray Big2 = QByteArray(Big1).replace(600000, 5, "ABCDE");
const QByteArray Small2 = QByteArray(Small1).replace(20000, 3, "xyz");
const QByteArray Big3 = QByteArray(Big2).replace(300000, 5, "FGHIJ");
const QByteArray Small3 = QByteArray(Small2).replace(10000, 3, "uvw");

class PatchUpdates : public UpdateFixture {
protected:
    // "one" holds release 1, "two" release 1 and then 2.
    void SetUp() override
    {
        UpdateFixture::SetUp();
        publishTo("one", Big1, Small1, 1000000);
        publishTo("two", Big1, Small1, 1000000);
        summary = publishTo("two", Big2, Small2, 1000100);
    }

    PublishSummary publishTo(const QString& name, const QByteArray& big, const QByteArray& small, qint64 now,
                             bool twin = false)
    {
        TempDir release;
        release.write("data/big.dat", big);
        release.write("data/small.dat", small);
        if (twin)
            release.write("data/twin.dat", big);
        PublishOptions options;
        options.releaseDir = release.path();
        options.siteDir = site.filePath(name);
        options.now = now;
        options.chunkMinSize = 256 * 1024;
        return publishRelease(options);
    }

    // The patches the site lists, as paths on it.
    QStringList listedPatches(const QString& siteName = "two") const
    {
        QFile file(site.filePath(siteName + "/update.sums"));
        EXPECT_TRUE(file.open(QIODevice::ReadOnly));
        QStringList found;
        for (const QByteArray& name : Sums::parse(file.readAll()).value().names())
            if (name.startsWith("chunks/patches/"))
                found << site.filePath(siteName + '/' + QString::fromLatin1(name));
        return found;
    }

    // The paths requested since `from`, each in one of: patches, chunks, whole files.
    struct Fetched {
        int patches = 0, chunks = 0;
        QList<QByteArray> whole;
    };
    Fetched fetchedSince(qsizetype from, const QByteArray& site = "two") const
    {
        Fetched fetched;
        const QByteArray root = '/' + site + '/';
        for (const QByteArray& path : requestedPaths().mid(from)) {
            if (path.startsWith(root + "chunks/patches/"))
                ++fetched.patches;
            else if (path.startsWith(root + "chunks/") && !path.startsWith(root + "chunks/index/"))
                ++fetched.chunks;
            else if (path.startsWith(root + "data/"))
                fetched.whole << path.mid(root.size() + 5);
        }
        return fetched;
    }

    PublishSummary summary;
};

// Rewrites bytes of an installed file in place and puts its time back to the nanosecond: the
// installed-state record still takes it for the copy it hashed.
void editBehindTheRecord(const QString& path)
{
    const QByteArray name = QFile::encodeName(path);
    struct stat before {};
    ASSERT_EQ(::stat(name.constData(), &before), 0);
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::ReadWrite));
    file.seek(1000);
    file.write("edited");
    file.close();
    const timespec times[2] = {before.st_atim, before.st_mtim};
    ASSERT_EQ(::utimensat(AT_FDCWD, name.constData(), times, 0), 0);
}

}  // namespace

// A patch from the installed copy is taken first; any patch that can't be had or doesn't apply
// to the copy as it is falls back to the chunks (the big file) or the whole file (the small one).
TEST_F(PatchUpdates, PatchFirstAndEveryFailureFallsBack)
{
    ASSERT_EQ(summary.patches.patched, 2);
    const QStringList patches = listedPatches();
    ASSERT_EQ(patches.size(), 2);
    enum Change { None, DamagePatches, RemovePatches, EditInstalled, EditBehindRecord };
    struct Case {
        const char* name;
        Change change;
        int patches;  // fetched
        bool chunks;
        QList<QByteArray> whole;
    };
    const Case cases[] = {
        {"patched", None, 2, false, {}},
        {"damaged patches", DamagePatches, 2, true, {"small.dat"}},
        {"missing patches", RemovePatches, 2, true, {"small.dat"}},
        {"installed copies edited", EditInstalled, 0, true, {"small.dat"}},
        {"installed copies edited behind the record", EditBehindRecord, 2, true, {"small.dat"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        QDir(root.filePath("game")).removeRecursively();
        QDir().mkpath(programFolder);
        useSite(server.url("/one/").toLatin1());
        ASSERT_EQ(update().kind, UpdateOutcome::Completed);
        QHash<QString, QByteArray> kept;
        for (const QString& patch : patches) {
            kept[patch] = site.read(QDir(site.path()).relativeFilePath(patch));
            if (c.change == DamagePatches)
                site.write(QDir(site.path()).relativeFilePath(patch), QByteArray(kept[patch]).replace(100, 4, "XXXX"));
            if (c.change == RemovePatches)
                QFile::remove(patch);
        }
        for (const QString name : {"data/big.dat", "data/small.dat"}) {
            if (c.change == EditInstalled)
                install(name, QByteArray(installed(name)).append("more"));
            if (c.change == EditBehindRecord)
                editBehindTheRecord(root.filePath("game/" + name));
        }
        useSite(server.url("/two/").toLatin1());
        const qsizetype before = requestedPaths().size();
        EXPECT_EQ(update().kind, UpdateOutcome::Completed);
        const Fetched fetched = fetchedSince(before);
        EXPECT_EQ(fetched.patches, c.patches);
        EXPECT_EQ(fetched.chunks > 0, c.chunks);
        EXPECT_EQ(fetched.whole, c.whole);
        EXPECT_EQ(installed("data/big.dat"), Big2);
        EXPECT_EQ(installed("data/small.dat"), Small2);
        for (auto it = kept.begin(); it != kept.end(); ++it)
            site.write(QDir(site.path()).relativeFilePath(it.key()), it.value());
    }
}

// A site of three releases lists patches from the second and, while it keeps it, from the first:
// players of either release get only patches and end with the third.
TEST_F(PatchUpdates, PlayersOneAndTwoReleasesBehindGetTheirOwnPatches)
{
    publishTo("three", Big1, Small1, 1000000);
    publishTo("three", Big2, Small2, 1000100);
    const PublishSummary third = publishTo("three", Big3, Small3, 1000200);
    EXPECT_EQ(third.patches.patched, 2);
    EXPECT_EQ(third.patches.olderPatched, 2);
    for (const char* installedFrom : {"one", "two"}) {
        SCOPED_TRACE(installedFrom);
        QDir(root.filePath("game")).removeRecursively();
        QDir().mkpath(programFolder);
        useSite(server.url('/' + QString::fromLatin1(installedFrom) + '/').toLatin1());
        ASSERT_EQ(update().kind, UpdateOutcome::Completed);
        useSite(server.url("/three/").toLatin1());
        const qsizetype before = requestedPaths().size();
        EXPECT_EQ(update().kind, UpdateOutcome::Completed);
        const Fetched fetched = fetchedSince(before, "three");
        EXPECT_EQ(fetched.patches, 2);
        EXPECT_EQ(fetched.chunks, 0);
        EXPECT_EQ(fetched.whole, QList<QByteArray>());
        EXPECT_EQ(installed("data/big.dat"), Big3);
        EXPECT_EQ(installed("data/small.dat"), Small3);
    }
}

// Two files with the same change share one listed patch and are both counted.
TEST_F(PatchUpdates, TwinFilesShareTheirPatch)
{
    publishTo("twins", Big1, Small1, 1000000, true);
    const PublishSummary twins = publishTo("twins", Big2, Small2, 1000100, true);
    EXPECT_EQ(twins.patches.patched, 3);
    EXPECT_EQ(twins.patches.files.size(), 3);
    EXPECT_EQ(listedPatches("twins").size(), 2);
}
