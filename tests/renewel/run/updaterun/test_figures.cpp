// What a check says an update will download, against what the update then downloads from the
// site; and files that already hold the listed content are not fetched, even where renewel may
// not write them.

#include "UpdateFixture.h"

#include "../../chunk/ChunkTestData.h"
#include "chunk/ChunkStoreWriter.h"
#include "run/fetch/WholeFileRoute.h"
#include "site/Sums.h"
#include "trust/Sha256.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>

#include <set>
#include <string>

namespace {

const ChunkParams Params = ChunkParams::forAverage(16384);

QByteArray edited(QByteArray bytes, qsizetype at, const QByteArray& edit) { return bytes.replace(at, edit.size(), edit); }

void emptyFolder(const QString& path)
{
    QDir dir(path);
    for (const QString& name : dir.entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden))
        QFileInfo(dir.filePath(name)).isDir() ? QDir(dir.filePath(name)).removeRecursively() : QFile::remove(dir.filePath(name));
}

class Figures : public UpdateFixture {
protected:
    // The files with update.txt and update.sums; those of chunked files also in the chunk store.
    void publishRelease(const QList<std::pair<QByteArray, QByteArray>>& files, const QSet<QByteArray>& chunked)
    {
        ChunkStoreWriter writer(site.path(), Params);
        QList<QByteArray> lines;
        QByteArray sums;
        for (const auto& [listed, bytes] : files) {
            const QString file = site.write(QString::fromLatin1(listed.mid(1)).replace('\\', '/'), bytes);
            lines << listed << QByteArray::number(bytes.size());
            sums += Sums::formatLine(Sha256::hash(bytes), listed);
            if (!chunked.contains(listed))
                continue;
            const Result<StoredFile> stored = writer.addFile(file);
            ASSERT_TRUE(stored) << stored.error().toStdString();
            sums += Sums::formatLine(stored->indexHash, stored->indexName.toLatin1());
        }
        publishList(lines);
        site.write("update.sums", Sums::formatLine(Sha256::hash(site.read("update.txt")), "update.txt") + sums);
    }

    // The paths requested since the last call, and the bytes of the site files they name, lists
    // not counted.
    std::pair<QList<QByteArray>, qint64> servedSince()
    {
        const QList<QByteArray> all = requestedPaths();
        const QList<QByteArray> paths = all.mid(seen);
        seen = all.size();
        qint64 bytes = 0;
        for (const QByteArray& path : paths)
            if (!path.startsWith("/update."))
                bytes += QFileInfo(site.filePath(QString::fromLatin1(path.mid(1)))).size();
        return {paths, bytes};
    }

    qsizetype seen = 0;
};

// A check with no installed-state record (as after an installer) names each differing file once,
// downloads nothing but the lists and chunk indexes, and its figure is what the update then
// downloads, which is also the total the run announces and its progress ends at.
TEST_F(Figures, CheckPlansWhatTheUpdateDownloads)
{
    const QByteArray a = testContent(400'000, 1), b = testContent(300'000, 2), c = testContent(200'000, 3);
    const QByteArray small = testContent(5000, 4);
    struct Case {
        const char* name;
        QByteArray installedA, installedB, installedC;
        bool smallLeftInTemp;  // a complete download of small.dat from a cut-off run
    };
    const Case cases[] = {
        {"chunks changed here and there", edited(a, 1000, "xx"), edited(b, 250'000, "yy"), c, false},
        {"an older, shorter copy", a.left(150'000), b, edited(c, 10, "z"), false},
        {"nothing in common: whole files after the index", testContent(400'000, 9), b.left(10), {}, false},
        {"a complete download left in the download folder", a, b, c, true},
    };
    for (const Case& t : cases) {
        SCOPED_TRACE(t.name);
        emptyFolder(programFolder);
        publishRelease({{"\\a.dat", a}, {"\\b.dat", b}, {"\\c.dat", c}, {"\\small.dat", small}},
                       {"\\a.dat", "\\b.dat", "\\c.dat"});
        install("a.dat", t.installedA);
        install("b.dat", t.installedB);
        if (!t.installedC.isEmpty())
            install("c.dat", t.installedC);
        if (t.smallLeftInTemp) {
            const QList<UpdateEntry> entries = UpdateListEntries::parse(site.read("update.txt")).entries;
            ASSERT_EQ(entries.size(), 4);
            const UpdateEntry& entry = entries[3];
            ASSERT_EQ(entry.listed, "\\small.dat");
            root.write(QDir(root.path()).relativeFilePath(WholeFileRoute::downloadName(entry, programFolder + "temp")), small);
        }
        servedSince();
        const QStringList before = allEntries();

        checkOnly = true;
        ASSERT_EQ(update().kind, UpdateOutcome::Completed);
        const UpdatePlan planned = run->Plan;
        const auto [checked, checkBytes] = servedSince();
        EXPECT_EQ(allEntries(), before) << "a check writes nothing";
        std::set<std::string> named;
        for (const UpdateEntry& entry : planned.fetch)
            EXPECT_TRUE(named.insert(entry.listed.toStdString()).second) << "named twice: " << entry.listed.toStdString();
        for (const QByteArray& path : checked)
            EXPECT_TRUE(path.startsWith("/update.") || path.startsWith("/chunks/index/")) << path.toStdString();

        checkOnly = false;
        host.totals.clear();
        host.runBytes.clear();
        ASSERT_EQ(update().kind, UpdateOutcome::Completed);
        const auto [fetched, runBytes] = servedSince();
        EXPECT_EQ(planned.download, runBytes);
        EXPECT_EQ(host.totals, QList<qint64>{runBytes}) << "one total, up front";
        EXPECT_EQ(host.runBytes.value(host.runBytes.size() - 1, 0), runBytes);
        EXPECT_TRUE(std::is_sorted(host.runBytes.begin(), host.runBytes.end())) << "the run's bytes never go back";
        EXPECT_EQ(installed("a.dat"), a);
        EXPECT_EQ(installed("c.dat"), c);
        EXPECT_EQ(installed("small.dat"), small);
    }
}

// A file renewel may not open for writing (here a running program) is compared by its content
// like any other: listed with the same bytes, it is neither fetched nor reported due.
TEST_F(Figures, RunningProgramWithTheListedBytesIsNotFetched)
{
    QFile sleep(QStringLiteral("/bin/sleep"));
    ASSERT_TRUE(sleep.open(QIODevice::ReadOnly));
    const QByteArray program = sleep.readAll();
    install("sleeper", program);
    QFile::setPermissions(root.filePath("game/sleeper"), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    QProcess running;
    running.start(root.filePath("game/sleeper"), {"60"});
    ASSERT_TRUE(running.waitForStarted());
    for (const bool withSums : {false, true}) {
        SCOPED_TRACE(withSums ? "compared by SHA-256" : "compared by size");
        emptyFolder(site.path());
        if (withSums)
            publishRelease({{"\\sleeper", program}}, {});
        else
            publishList({"\\sleeper", QByteArray::number(program.size())});
        servedSince();
        for (const bool check : {true, false}) {
            checkOnly = check;
            ASSERT_EQ(update().kind, UpdateOutcome::Completed);
            EXPECT_TRUE(run->Plan.fetch.isEmpty());
        }
        EXPECT_FALSE(servedSince().first.contains("/sleeper"));
    }
    running.kill();
    running.waitForFinished();
}

}  // namespace
