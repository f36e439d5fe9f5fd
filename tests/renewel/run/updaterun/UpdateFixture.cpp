#include "UpdateFixture.h"

#include <QSet>

#include <algorithm>

#include "run/lang/langSys.h"

#include <QDir>
#include <QDirIterator>
#include <QProcess>
#include <QTest>

#include <optional>

void RunMinisign(const QStringList& args)
{
    QProcess process;
    process.start(QStringLiteral("minisign"), args);
    process.closeWriteChannel();
    ASSERT_TRUE(process.waitForFinished(30000));
    ASSERT_EQ(process.exitCode(), 0) << process.readAllStandardError().toStdString();
}

UpdateFixture::UpdateFixture()
    : programFolder(root.filePath("game") + QDir::separator()), server(site.path())
{
}

void UpdateFixture::SetUp()
{
    ASSERT_TRUE(QDir().mkpath(programFolder));
    useSite(server.url("/").toLatin1());
}

void UpdateFixture::TearDown() {}

UpdateOutcome UpdateFixture::update()
{
    UpdateOptions options{quiet, nullptr, programFolder, 0, repair, 10};
    options.Settings = UpdateSettings::fromTable(LanguageTable());
    options.CheckOnly = checkOnly;
    run = std::make_unique<UpdateRun>(host, host.getFile, options);
    std::optional<UpdateOutcome> outcome;
    QObject::connect(run.get(), &UpdateRun::finished, [&](const UpdateOutcome& o) { outcome = o; });
    EXPECT_TRUE(run->start());
    EXPECT_TRUE(QTest::qWaitFor([&] { return outcome.has_value(); }, 300000));
    host.present(outcome.value_or(UpdateOutcome{}));
    return outcome.value_or(UpdateOutcome{});
}

void UpdateFixture::useSite(const QByteArray& site, const QByteArray& extraLines)
{
    const QByteArray language = "Test language\r\n"
                                "#UpdateSite " + site + "\r\n"
                                "#STatus2 Loading\r\n"
                                "#STatus3 Checking files\r\n"
                                "#Error Download failed\r\n"
                                "#Done All done\r\n" + extraLines;
    ASSERT_TRUE(LoadLanguageFile(root.write("renewel.lng", language)));
}

void UpdateFixture::publishList(const QList<QByteArray>& dataLines)
{
    QByteArray list = "Ironvale 3D update list\r\n";
    for (const QByteArray& line : dataLines)
        list += line + "\r\n";
    site.write("update.txt", list);
}

QList<QByteArray> UpdateFixture::requestedPaths() const
{
    // The lists are fetched together: each run's lists are put in one order.
    static const QList<QByteArray> lists = {"/update.txt", "/update.sums", "/update.sums.minisig"};
    const auto rank = [](const QByteArray& path) { return lists.indexOf(path); };
    QList<QByteArray> paths;
    for (const QByteArray& request : server.requests())
        paths << request.left(request.indexOf("\r\n")).split(' ').value(1);
    for (auto run = paths.begin(); run != paths.end();) {
        QSet<QByteArray> seen;  // a list named again belongs to the next run
        auto end = std::find_if(run, paths.end(), [&](const QByteArray& p) {
            const bool ends = rank(p) < 0 || seen.contains(p);
            seen.insert(p);
            return ends;
        });
        std::sort(run, end, [&](const QByteArray& a, const QByteArray& b) { return rank(a) < rank(b); });
        run = end == paths.end() ? end : end + (rank(*end) < 0 ? 1 : 0);
    }
    return paths;
}

QStringList UpdateFixture::allEntries() const
{
    QStringList entries;
    QDirIterator it(root.path(), QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden | QDir::System,
                    QDirIterator::Subdirectories);
    while (it.hasNext())
        entries << QDir(root.path()).relativeFilePath(it.next());
    entries.sort();
    return entries;
}
