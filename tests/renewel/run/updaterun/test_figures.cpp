// What a check says an update will download, against what the update then downloads from the
// site; and files that already hold the listed content are not fetched, even where renewel may
// not write them.

#include "UpdateFixture.h"

#include "../../chunk/ChunkTestData.h"
#include "chunk/ChunkStoreWriter.h"
#include "run/CheckCommand.h"
#include "run/report/RunProgress.h"
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

TEST(CheckSummary, ByteCountsAreReadable)
{
    const std::pair<qint64, const char*> cases[] = {
        {0, "0 bytes"},           {1, "1 byte"},          {999, "999 bytes"},           {1000, "1 KB"},
        {170'499, "170 KB"},      {999'499, "999 KB"},    {999'500, "1.0 MB"},          {104'900'000, "104.9 MB"},
        {999'950'000, "1.0 GB"},  {12'345'678'901, "12.3 GB"},
    };
    for (const auto& [bytes, text] : cases)
        EXPECT_EQ(ReadableBytes(bytes), text) << bytes;
}

// The run's figure while files come in: one total up front, raised only when a file costs more
// than planned, and bytes that never go back and end at the total.
TEST(RunProgressFigures, TotalAndBytesFollowTheFiles)
{
    struct Step {
        qsizetype entry;         // -1: the entry in progress is done
        qint64 fileTotal, read;  // a file progress report
    };
    struct Case {
        const char* name;
        QHash<qsizetype, qint64> costs;
        QList<Step> steps;
        QList<qint64> totals, bytes;
    };
    const Case cases[] = {
        {"as planned", {{0, 100}, {2, 50}}, {{0, 100, 40}, {0, 100, 100}, {-1, 0, 0}, {2, 50, 50}, {-1, 0, 0}},
         {150}, {40, 100, 100, 150, 150}},
        {"an index counted before its chunks", {{0, 120}}, {{0, 100, 60}, {0, 100, 100}, {-1, 0, 0}}, {120}, {60, 100, 120}},
        {"declined to a larger whole file", {{0, 30}, {1, 10}}, {{0, 20, 20}, {0, 80, 10}, {0, 80, 80}, {-1, 0, 0}, {1, 10, 10}, {-1, 0, 0}},
         {40, 90}, {20, 20, 80, 80, 90, 90}},
        {"nothing to download", {}, {}, {0}, {}},
    };
    for (const Case& t : cases) {
        SCOPED_TRACE(t.name);
        RecordingHost host;
        RunProgress progress(host);
        progress.planned(t.costs);
        for (const Step& step : t.steps) {
            if (step.entry < 0) {
                progress.entryDone();
                continue;
            }
            progress.entering(step.entry);
            progress.fileProgress(step.fileTotal, step.read);
        }
        EXPECT_EQ(host.totals, t.totals);
        EXPECT_EQ(host.runBytes, t.bytes);
    }
}

}  // namespace
