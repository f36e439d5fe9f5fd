// The built renewel run as a process in a temporary installation: quiet mode updates from a real
// server on loopback and ends by itself; a site published and signed by renewel-publish updates
// and repairs an installation; a failed download stops the run and still ends it; the first
// argument must be exactly "quiet".

#include "FaultServer.h"
#include "NginxServer.h"
#include "ProcessRun.h"
#include "TempDir.h"

#include <gtest/gtest.h>

#include <QCryptographicHash>
#include <QDir>
#include <QRegularExpression>
#include <QDirIterator>
#include <QThread>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QProcessEnvironment>
#include <QTest>

#include <algorithm>
#include <functional>
#include <memory>

#include <csignal>
#include <unistd.h>

namespace {

constexpr int EndTimeoutMs = 60000;

QByteArray bytes(int size, char seed)
{
    QByteArray b(size, '\0');
    for (int i = 0; i < size; ++i)
        b[i] = char(seed + i * 7);
    return b;
}

struct SiteFile {
    QByteArray listed;  // "\maps\a.ivm"
    QByteArray content;
};

// The site folder: update.txt (first line ignored, CR LF lines) and the listed files.
void writeSite(const TempDir& site, const QList<SiteFile>& files)
{
    QByteArray list = "Ironvale 3D update list\r\n";
    for (const SiteFile& f : files) {
        list += f.listed + "\r\n" + QByteArray::number(f.content.size()) + "\r\n";
        site.write(QString::fromLatin1(f.listed.mid(1)).replace('\\', '/'), f.content);
    }
    site.write("update.txt", list);
}

QString installedName(const QByteArray& listed) { return QString::fromLatin1(listed.mid(1)).replace('\\', '/'); }

// An installation folder holding a copy of the built program and its language file.
void prepareInstall(const TempDir& install, const QString& site)
{
    const QString program = QStringLiteral(IV_BINARY_DIR "/renewel/renewel");
    ASSERT_TRUE(QFile::exists(program)) << program.toStdString();
    ASSERT_TRUE(QFile::copy(program, install.filePath("renewel")));
    install.write("renewel.lng", "#updatetitle Ironvale 3D Update\r\n#Update Update\r\n#status1 Ready\r\n"
                                 "#panel Updating\r\n#UpdateSite " + site.toLatin1() +
                                     "\r\n#UpdateIndex " + site.toLatin1() +
                                     "index.html\r\n#STatus2 Downloading\r\n#STatus3 List\r\n"
                                     "#Error Error\r\n#Done Done\r\n");
}

// The environment renewel runs in here: offscreen, the browser engine without its sandbox (as
// root); runAs (a user id): a home of its own.
QProcessEnvironment testEnvironment(const TempDir& install, const QString& runAs = {})
{
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    if (!runAs.isEmpty()) {
        env.insert("HOME", install.filePath("home"));
        env.remove("XDG_RUNTIME_DIR");
    }
    env.insert("QT_QPA_PLATFORM", "offscreen");
    env.insert("QTWEBENGINE_DISABLE_SANDBOX", "1");
    env.insert("QTWEBENGINE_CHROMIUM_FLAGS", "--disable-gpu");
    return env;
}

// runAs: a user id to run renewel as (also its group id), or empty.
std::unique_ptr<QProcess> start(const TempDir& install, const QStringList& args, const QString& runAs = {})
{
    auto process = std::make_unique<QProcess>();
    const QProcessEnvironment env = testEnvironment(install, runAs);
    process->setProcessEnvironment(env);
    process->setWorkingDirectory(install.path());
    process->setProcessChannelMode(QProcess::SeparateChannels);
    if (runAs.isEmpty()) {
        process->start(install.filePath("renewel"), args);
    } else {
        process->start("setpriv", QStringList{"--reuid=" + runAs, "--regid=" + runAs, "--clear-groups", "--",
                                              install.filePath("renewel")} + args);
    }
    return process;
}

// Waits for the program to end by itself (kills it, and fails, when it doesn't) and checks its
// exit status and what it printed on standard error.
void expectEnds(QProcess& process, int status, const QByteArray& errorLine = {})
{
    const bool ended = process.waitForFinished(EndTimeoutMs);
    if (!ended) {
        process.kill();
        process.waitForFinished();
    }
    ASSERT_TRUE(ended) << "renewel did not end by itself (a box shown, or a lost quit)";
    EXPECT_EQ(process.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(process.exitCode(), status);
    QByteArray errors = process.readAllStandardError();
#ifdef __SANITIZE_ADDRESS__
    // Sanitizer builds keep the browser engine's chatter on standard error (so that reports
    // reach it); only the program's own lines are compared there.
    QByteArray own;
    for (const QByteArray& line : errors.split('\n'))
        own += line.startsWith("renewel: ") ? line + '\n' : QByteArray();
    errors = own;
#endif
    EXPECT_EQ(errors.toStdString(), errorLine.toStdString());
}

int requestsFor(const FaultServer& server, const QByteArray& path)
{
    int n = 0;
    for (const QByteArray& request : server.requests())
        n += request.startsWith("GET " + path + " ") ? 1 : 0;
    return n;
}

TEST(RenewelProcess, QuietRunUpdatesFromNginxAndEnds)
{
    TempDir site, install;
    const QList<SiteFile> files = {
        {"\\readme.txt", bytes(196, 'r')},               // older, shorter copy installed
        {"\\maps\\forest.ivm", bytes(10520, 'f')},       // same size: left alone
        {"\\maps\\coast\\harbour.ivm", bytes(10520, 'h')},  // new, in a new nested folder
        {"\\data\\units.dat", bytes(300'000, 'u')},      // larger than installed
        {"\\empty.txt", {}},                             // size 0, absent: counts as equal
    };
    writeSite(site, files);
    install.write("readme.txt", "old");
    const QByteArray forestInstalled = bytes(10520, 'F');  // same size, other bytes
    install.write("maps/forest.ivm", forestInstalled);
    install.write("data/units.dat", bytes(1000, 'o'));
    install.write("game.cfg", "keep");

    NginxServer nginx(site.path());
    ASSERT_TRUE(nginx.isRunning()) << nginx.error().toStdString();
    prepareInstall(install, nginx.url("/"));

    auto process = start(install, {"quiet"});
    expectEnds(*process, 0);

    EXPECT_EQ(install.read("readme.txt"), files[0].content);
    EXPECT_EQ(install.read("maps/forest.ivm"), forestInstalled);
    EXPECT_EQ(install.read("maps/coast/harbour.ivm"), files[2].content);
    EXPECT_EQ(install.read("data/units.dat"), files[3].content);
    EXPECT_FALSE(install.exists("empty.txt"));
    EXPECT_EQ(install.read("game.cfg"), "keep");
    EXPECT_FALSE(install.exists("temp")) << "download folder left behind";
}

// Runs a tool that must succeed; a failure shows what it printed on standard error.
void runTool(const QString& program, const QStringList& args)
{
    const ProcessRun run = runProcess(program, args, EndTimeoutMs);
    ASSERT_EQ(run.exitCode, 0) << program.toStdString() << ": " << run.err.toStdString();
}

// What renewel check prints and its exit status; the folder is left as it was.
std::pair<int, QByteArray> check(const TempDir& install)
{
    auto process = start(install, {"check"});
    process->processEnvironment();
    const bool ended = process->waitForFinished(EndTimeoutMs);
    EXPECT_TRUE(ended);
    return {process->exitCode(), process->readAllStandardOutput()};
}

QByteArray snapshot(const TempDir& dir)
{
    QByteArray all;
    QDirIterator it(dir.path(), QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden, QDirIterator::Subdirectories);
    QStringList names;
    while (it.hasNext())
        names << it.next();
    names.sort();
    for (const QString& name : names)
        all += name.toUtf8() + ' ' + QByteArray::number(QFileInfo(name).size()) + ' ' + dir.read(QDir(dir.path()).relativeFilePath(name)) + '\n';
    return all;
}

// A site published and signed by renewel-publish, served by nginx: files are compared by content,
// dropped files go (unless the player changed them), check reports without changing anything,
// and repair reads every file again.
TEST(RenewelProcess, PublishedSignedReleasesAreFollowedByContent)
{
    TempDir keys, release, site, install;
    runTool("minisign", {"-G", "-W", "-p", keys.filePath("studio.pub"), "-s", keys.filePath("studio.key")});
    const auto publish = [&] {
        runTool(QStringLiteral(IV_BINARY_DIR "/publish/renewel-publish"),
                {release.path(), site.filePath("site"), "--key", keys.filePath("studio.key"), "--expires", "1"});
    };
    release.write("readme.txt", bytes(300, 'r'));
    release.write("maps/forest.ivm", bytes(10520, 'f'));
    release.write("maps/old/gone.ivm", bytes(10520, 'g'));
    release.write("notes.txt", bytes(50, 'n'));
    publish();
    install.write("readme.txt", "old");
    install.write("maps/forest.ivm", bytes(10520, 'F'));  // right size, wrong bytes

    NginxServer nginx(site.filePath("site"));
    ASSERT_TRUE(nginx.isRunning()) << nginx.error().toStdString();
    prepareInstall(install, nginx.url("/"));
    install.write("renewel.lng", install.read("renewel.lng") + "#UpdateKey " +
                                     keys.read("studio.pub").split('\n').value(1) + "\r\n");

    auto quiet = start(install, {"quiet"});
    expectEnds(*quiet, 0);
    EXPECT_EQ(install.read("readme.txt"), bytes(300, 'r'));
    EXPECT_EQ(install.read("maps/forest.ivm"), bytes(10520, 'f'));
    EXPECT_EQ(check(install), std::make_pair(0, QByteArray("up to date\n")));

    // The next release changes a map (same size) and drops two files; the player changed one of
    // them and added a file of their own.
    release.write("maps/forest.ivm", bytes(10520, 'e'));
    QFile::remove(release.filePath("maps/old/gone.ivm"));
    QFile::remove(release.filePath("notes.txt"));
    QThread::sleep(1);  // a newer timestamp for the signed list
    publish();
    install.write("notes.txt", "the player's notes");
    install.write("mine.txt", "mine");
    const QByteArray before = snapshot(install);
    // The changed map comes as a binary patch from the installed copy: 113 bytes, not 10,520.
    const auto [status, said] = check(install);
    EXPECT_EQ(status, 3);
    EXPECT_TRUE(QRegularExpression("^fetch \\\\maps\\\\forest.ivm 10520\n"
                                   "delete \\\\maps\\\\old\\\\gone.ivm\n"
                                   "update due: 1 to fetch \\(113 bytes to download, 11 KB installed\\), 1 to delete\n"
                                   "space needed: 1 MB, \\d+ MB free\n$")
                    .match(QString::fromLatin1(said))
                    .hasMatch())
        << said.toStdString();
    EXPECT_EQ(snapshot(install).toStdString(), before.toStdString()) << "check changes nothing";

    auto second = start(install, {"quiet"});
    expectEnds(*second, 0);
    EXPECT_EQ(install.read("maps/forest.ivm"), bytes(10520, 'e'));
    EXPECT_FALSE(install.exists("maps/old")) << "the dropped file and the folder renewel made for it";
    EXPECT_EQ(install.read("notes.txt"), "the player's notes");
    EXPECT_EQ(install.read("mine.txt"), "mine");

    // A damaged record is ignored: the files are hashed again and found intact.
    install.write("renewel.state", "garbage");
    EXPECT_EQ(check(install), std::make_pair(0, QByteArray("up to date\n")));
    auto repair = start(install, {"repair"});
    expectEnds(*repair, 0);
    EXPECT_FALSE(install.exists("temp"));
}

TEST(RenewelProcess, FailedThirdDownloadStopsTheRunAndTheProgramEnds)
{
    TempDir site, install;
    QList<SiteFile> files;
    for (int i = 0; i < 5; ++i)
        files.append({"\\data\\file" + QByteArray::number(i) + ".bin", bytes(2000 + i * 1000, char('a' + i))});
    writeSite(site, files);
    for (int i = 0; i < 5; ++i)
        install.write(installedName(files[i].listed), "old" + QByteArray::number(i));

    FaultServer server(site.path());
    server.status("/data/file2.bin", 404, "gone");  // not worth a retry
    prepareInstall(install, server.url("/"));

    auto process = start(install, {"quiet"});
    expectEnds(*process, 1, "renewel: " + server.url("/data/file2.bin").toUtf8() + ": HTTP 404\n");

    // The release switches whole or not at all: files fetched before the failure stay staged.
    for (int i = 0; i < 5; ++i)
        EXPECT_EQ(install.read(installedName(files[i].listed)), "old" + QByteArray::number(i)) << i;
    // The list stays in the download folder for the next run.
    EXPECT_TRUE(install.exists("temp/update.txt"));
}

TEST(RenewelProcess, UnreachableSiteEndsQuietlyWithoutChanges)
{
    TempDir install;
    install.write("readme.txt", "old");
    const QString site = FaultServer::refusedUrl("/");
    prepareInstall(install, site);

    auto process = start(install, {"quiet"});
    expectEnds(*process, 1, "renewel: " + site.toUtf8() + "update.txt: connection refused\n");
    EXPECT_EQ(install.read("readme.txt"), "old");
    EXPECT_FALSE(install.exists("temp"));
}

// A mirror's address may carry a password: the failure line names the mirror without it.
TEST(RenewelProcess, AFailureLineMasksAMirrorsPassword)
{
    TempDir site, install;
    writeSite(site, {{"\\gone.dat", "12345"}});
    FaultServer server(site.path());
    server.status("/gone.dat", 404, "gone");
    server.status("/m/gone.dat", 404, "gone");
    prepareInstall(install, server.url("/"));
    const QString mirror = server.url("/m/");
    install.write("renewel.lng", install.read("renewel.lng") + "#UpdateMirror " +
                                     QString(mirror).insert(7, "player:secret@").toLatin1() + "\r\n");

    auto process = start(install, {"quiet"});
    expectEnds(*process, 1, "renewel: " + QString(mirror).insert(7, "***@").toUtf8() + "gone.dat: HTTP 404\n");
}

TEST(RenewelProcess, OneRunPerInstallationAndAKilledRunsLockIsTakenOver)
{
    TempDir site, install;
    const QList<SiteFile> files = {{"\\data\\a.bin", bytes(5000, 'a')}};
    writeSite(site, files);
    install.write("data/a.bin", "old");
    FaultServer server(site.path());
    server.stall("/update.txt", 5);  // the first copy hangs on the list, holding the installation
    prepareInstall(install, server.url("/"));

    auto first = start(install, {"quiet"});
    ASSERT_TRUE(server.waitForRequests(2, EndTimeoutMs));  // update.txt and update.sums, together
    auto second = start(install, {"quiet"});
    expectEnds(*second, 1, "renewel: " + QDir::toNativeSeparators(QFileInfo(install.path()).canonicalFilePath()).toUtf8() +
                               ": another update is running on this installation\n");
    EXPECT_EQ(server.requestCount(), 2) << "the second copy fetched something";
    EXPECT_EQ(install.read("data/a.bin"), "old");

    first->kill();  // SIGKILL: its lock file stays behind
    first->waitForFinished();
    ASSERT_TRUE(install.exists("renewel.lock"));
    server.clearFaults();
    auto third = start(install, {"quiet"});
    expectEnds(*third, 0);
    EXPECT_EQ(install.read("data/a.bin"), files[0].content);
    EXPECT_FALSE(install.exists("renewel.lock"));
}

TEST(RenewelProcess, OnlyAnExactFirstArgumentQuietRunsUnattended)
{
    FaultServer server;
    server.setBody("/update.txt", "list\r\n");
    server.setBody("/index.html", "<html><body>News</body></html>");
    const QList<QStringList> interactive = {{"Quiet"}, {"/quiet"}, {"x", "quiet"}};
    QList<std::shared_ptr<TempDir>> installs;
    QList<std::shared_ptr<QProcess>> processes;
    for (const QStringList& args : interactive) {
        installs.append(std::make_shared<TempDir>());
        prepareInstall(*installs.back(), server.url("/"));
        processes.append(start(*installs.back(), args));
    }
    // Interactive windows open the news page at their first tick and then wait for the user.
    QElapsedTimer clock;
    clock.start();
    while (requestsFor(server, "/index.html") < interactive.size() && clock.elapsed() < EndTimeoutMs)
        QTest::qWait(50);
    QTest::qWait(700);
    EXPECT_GE(requestsFor(server, "/index.html"), interactive.size());
    EXPECT_EQ(requestsFor(server, "/update.txt"), 0);
    for (int i = 0; i < processes.size(); ++i) {
        EXPECT_EQ(processes[i]->state(), QProcess::Running) << interactive[i].join(' ').toStdString();
        processes[i]->kill();
        processes[i]->waitForFinished();
    }
}



// Failures keep the system's reason: an installation its user can't write, and a folder of it.
TEST(RenewelProcess, FailureLinesCarryTheSystemsReason)
{
    if (::geteuid() != 0)
        GTEST_SKIP() << "needs root to run renewel as another user";
    TempDir site, install;
    writeSite(site, {{"\\data\\units.dat", bytes(3000, 'u')}});
    FaultServer server(site.path());
    prepareInstall(install, server.url("/"));
    install.write("data/units.dat", "old");
    install.write("home/.keep", "");
    const QString base = QFileInfo(install.path()).canonicalFilePath();
    const auto chmod = [](const QString& path, QFileDevice::Permissions p) { ASSERT_TRUE(QFile::setPermissions(path, p)); };
    const auto all = QFileDevice::Permissions(0x7777);
    const auto readable = QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner |
                          QFileDevice::ReadGroup | QFileDevice::ExeGroup | QFileDevice::ReadOther | QFileDevice::ExeOther;
    chmod(install.filePath("home"), all);
    chmod(install.filePath("renewel.lng"), readable);

    // The installation folder itself is not the user's: no lock can be made there.
    chmod(install.path(), readable);
    auto locked = start(install, {"quiet"}, "65534");
    expectEnds(*locked, 1, "renewel: " + base.toUtf8() + ": cannot lock the installation: Permission denied\n");

    // The installation is, but its data folder is not: the file can't be put in place.
    chmod(install.path(), all);
    chmod(install.filePath("data"), readable);
    auto installing = start(install, {"quiet"}, "65534");
    expectEnds(*installing, 1, "renewel: data\\units.dat: cannot install the file: Permission denied\n");
    EXPECT_EQ(install.read("data/units.dat"), "old");

    // The lock a crashed run of another user (root, here) left behind is taken over.
    chmod(install.filePath("data"), all);
    install.write("renewel.lock", "4242\nanother user's\n");
    chmod(install.filePath("renewel.lock"), QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ReadOther);
    auto taken = start(install, {"quiet"}, "65534");
    expectEnds(*taken, 0);
    EXPECT_EQ(install.read("data/units.dat"), bytes(3000, 'u'));
}

// A launcher may start renewel from another folder, over ssh (no display at all), or as root:
// each way it either works or says why in one line. Only the interactive window needs a display.
TEST(RenewelProcess, StartedFromElsewhereOrWithoutADisplayItSaysWhy)
{
    TempDir site, install, elsewhere;
    writeSite(site, {{"\\a.txt", "new"}});
    FaultServer server(site.path());
    prepareInstall(install, server.url("/"));

    QProcess fromElsewhere;  // the language file beside the program is read
    fromElsewhere.setProcessEnvironment(testEnvironment(install));
    fromElsewhere.setWorkingDirectory(elsewhere.path());
    fromElsewhere.start(install.filePath("renewel"), {"check"});
    expectEnds(fromElsewhere, 3);

    const QStringList noDisplay = {"QT_QPA_PLATFORM", "DISPLAY", "WAYLAND_DISPLAY"};
    const struct {
        QStringList args;
        QStringList unset;
        int status;
        QByteArray line;
    } cases[] = {
        {{"check"}, noDisplay, 3, {}},
        {{"quiet"}, noDisplay, 0, {}},
        {{"repair"}, noDisplay, 0, {}},
        {{}, noDisplay, 1, "renewel: display: no display to show the window on (neither DISPLAY nor WAYLAND_DISPLAY is set)\n"},
        {{}, {"QTWEBENGINE_DISABLE_SANDBOX", "QTWEBENGINE_CHROMIUM_FLAGS"}, 1,
         "renewel: browser: the embedded browser does not run as root; run renewel as the player\n"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.args.join(' ').toStdString() + " without " + c.unset.join(',').toStdString());
        if (c.line.contains("root") && ::geteuid() != 0)
            continue;
        QProcess process;
        QProcessEnvironment env = testEnvironment(install);
        for (const QString& name : c.unset)
            env.remove(name);
        process.setProcessEnvironment(env);
        process.setWorkingDirectory(elsewhere.path());
        process.start(install.filePath("renewel"), c.args);
        expectEnds(process, c.status, c.line);
    }
    EXPECT_EQ(install.read("a.txt"), "new");

    // No one could close the language file's box on no screen: the run ends with its line.
    QFile::remove(install.filePath("renewel.lng"));
    QProcess noLanguage;
    QProcessEnvironment env = testEnvironment(install);
    for (const QString& name : noDisplay)
        env.remove(name);
    noLanguage.setProcessEnvironment(env);
    noLanguage.setWorkingDirectory(elsewhere.path());
    noLanguage.start(install.filePath("renewel"), {"quiet"});
    expectEnds(noLanguage, 1, "renewel: renewel.lng: the language file could not be read\n");
}

// A launcher reads the run's progress from standard output, one line per event, in order: one
// total after the list, then bytes of the whole run that never go backwards and end at it.
TEST(RenewelProcess, QuietProgressLinesFollowTheRun)
{
    TempDir site, install;
    writeSite(site, {{"\\a.bin", bytes(3000, 'a')}, {"\\same.txt", "same"}, {"\\data\\b.bin", bytes(70000, 'b')}});
    install.write("same.txt", "same");
    FaultServer server(site.path());
    prepareInstall(install, server.url("/"));
    auto process = start(install, {"quiet", "--progress"});
    expectEnds(*process, 0);
    QList<QByteArray> lines = process->readAllStandardOutput().split('\n');
    EXPECT_EQ(lines.takeLast(), "");
    QList<QByteArray> events;
    qint64 done = -1;
    for (const QByteArray& line : lines) {
        if (!line.startsWith("bytes ")) {
            events << line;
            continue;
        }
        EXPECT_TRUE(events.contains("total 2 73000")) << "bytes before the total: " << line.toStdString();
        const QList<QByteArray> fields = line.split(' ');
        ASSERT_EQ(fields.size(), 3) << line.toStdString();
        EXPECT_EQ(fields[2], "73000") << line.toStdString();
        EXPECT_GE(fields[1].toLongLong(), done) << "bytes went backwards: " << line.toStdString();
        done = fields[1].toLongLong();
    }
    // Both files are installed together once both are in: the release switches whole.
    EXPECT_EQ(events, (QList<QByteArray>{"list 3", "total 2 73000", "start \\a.bin 3000", "start \\data\\b.bin 70000",
                                         "installed \\a.bin", "installed \\data\\b.bin", "end completed 0"}));
    EXPECT_EQ(done, 73000) << "the bytes end at the total";
}

// Runs that show no page never load the browser engine (the dynamic loader names every library
// it loads when asked to).
TEST(RenewelProcess, QuietRunsAndChecksLoadNoBrowserEngine)
{
    TempDir site, install;
    writeSite(site, {{"\\a.txt", "same"}});
    install.write("a.txt", "same");
    FaultServer server(site.path());
    prepareInstall(install, server.url("/"));
    for (const QStringList& args : {QStringList{"quiet"}, QStringList{"check"}}) {
        QProcessEnvironment env = testEnvironment(install);
        env.insert("RENEWEL_DEBUG", "1");
        env.insert("LD_DEBUG", "files");
        QProcess run;
        run.setProcessEnvironment(env);
        run.setWorkingDirectory(install.path());
        run.start(install.filePath("renewel"), args);
        ASSERT_TRUE(run.waitForFinished(EndTimeoutMs));
        EXPECT_EQ(run.exitCode(), 0) << args.join(' ').toStdString();
        const QByteArray loaded = run.readAllStandardError();
        EXPECT_TRUE(loaded.contains("libQt6Core")) << "the loader's own lines are there";
        EXPECT_FALSE(loaded.contains("WebEngine")) << args.join(' ').toStdString();
    }
}


// The README's nginx block for serving a site (its first "```nginx" block), used as it stands.
QByteArray readmeNginxBlock()
{
    QFile readme(QStringLiteral(IV_SOURCE_DIR "/README.md"));
    if (!readme.open(QIODevice::ReadOnly))
        return {};
    const QByteArray text = readme.readAll();
    const qsizetype from = text.indexOf("```nginx\n");
    return from < 0 ? QByteArray() : text.mid(from + 9, text.indexOf("```", from + 9) - from - 9);
}

struct Ran {
    int status = -1;
    QByteArray out, err;
};

Ran runRenewel(const TempDir& install, const QStringList& args)
{
    auto process = start(install, args);
    EXPECT_TRUE(process->waitForFinished(EndTimeoutMs));
    return {process->exitCode(), process->readAllStandardOutput(), process->readAllStandardError()};
}

// A launcher's check when nothing changed is one conditional request for the small signed head;
// a changed head brings the lists, which must be the ones it names (the head's signature covers
// them: theirs is not fetched). The lists travel compressed,
// and only what is named by path (the head aside) asks past caches.
TEST(RenewelProcess, TheSignedHeadAloneAnswersAnUnchangedCheck)
{
    TempDir keys, release, site, other, install;
    runTool("minisign", {"-G", "-W", "-p", keys.filePath("studio.pub"), "-s", keys.filePath("studio.key")});
    const auto publish = [&](const TempDir& to) {
        runTool(QStringLiteral(IV_BINARY_DIR "/publish/renewel-publish"),
                {release.path(), to.filePath("site"), "--key", keys.filePath("studio.key"), "--chunk-min-size", "4096"});
    };
    for (int i = 0; i < 300; ++i)
        release.write(QStringLiteral("maps/map%1.ivm").arg(i), bytes(10520, char(i)));
    release.write("data/big.dat", bytes(200'000, 'b'));
    publish(site);
    NginxServer::Options options;
    options.accessLog = true;
    options.extra = readmeNginxBlock();
    ASSERT_FALSE(options.extra.isEmpty());
    NginxServer nginx(site.filePath("site"), options);
    ASSERT_TRUE(nginx.isRunning()) << nginx.error().toStdString();
    prepareInstall(install, nginx.url("/"));
    install.write("renewel.lng", install.read("renewel.lng") + "#UpdateKey " +
                                     keys.read("studio.pub").split('\n').value(1) + "\r\n");

    const auto republish = [&] {
        QThread::sleep(1);  // a newer file for nginx's validator
        release.write("data/big.dat", bytes(200'000, 'c'));
        publish(site);
    };
    const auto foreignHead = [&] {  // a later release's head, signed, over this site's lists
        release.write("data/big.dat", bytes(200'000, 'd'));
        publish(other);
        site.write("site/update.head", other.read("site/update.head"));
    };
    struct Step {
        const char* name;
        std::function<void()> before;
        QStringList args;
        int status;
        QList<QByteArray> requests;  // "URI STATUS" of the lists and the head, in order
        QByteArray errorHas;
    };
    const QList<Step> steps = {
        {"first run", [] {}, {"quiet"}, 0,
         {"/update.head 200", "/update.sums 200", "/update.txt 200"}, {}},
        {"unchanged check", [] {}, {"check"}, 0, {"/update.head 304"}, {}},
        {"unchanged run", [] {}, {"quiet"}, 0, {"/update.head 304"}, {}},
        {"record damaged", [&] { install.write("renewel.state", "garbage"); }, {"check"}, 0,
         {"/update.head 200", "/update.sums 200", "/update.txt 200"}, {}},
        {"changed head", republish, {"check"}, 3,
         {"/update.head 200", "/update.sums 200", "/update.txt 200"}, {}},
        {"head naming other lists", foreignHead, {"check"}, 1,
         {"/update.head 200", "/update.sums 200", "/update.txt 200"},
         "is not the list update.head names"},
    };
    qsizetype seen = 0;
    int chunkRequests = 0;
    for (const Step& step : steps) {
        SCOPED_TRACE(step.name);
        step.before();
        const Ran ran = runRenewel(install, step.args);
        EXPECT_EQ(ran.status, step.status) << ran.err.toStdString();
        EXPECT_TRUE(ran.err.contains(step.errorHas)) << ran.err.toStdString();
        const QList<QByteArray> log = nginx.accessLog();
        QList<QByteArray> lists;
        for (const QByteArray& line : log.mid(seen)) {
            const QList<QByteArray> f = line.split(' ');  // CONNECTION PROTOCOL URI STATUS BYTES CACHE_CONTROL
            const QByteArray uri = f.value(2);
            if (uri.startsWith("/chunks/")) {
                ++chunkRequests;
                EXPECT_EQ(f.value(5), "-") << "a content-addressed object asks past caches: " << line.toStdString();
            } else if (uri.startsWith("/update.")) {
                lists << uri + ' ' + f.value(3);
                // The head as the site lets caches keep it (briefly); the lists past them.
                EXPECT_EQ(f.value(5), uri == "/update.head" ? "-" : "no-cache") << line.toStdString();
                if (uri == "/update.head")
                    EXPECT_LT(f.value(4).toInt(), 4096);
                if (f.value(3) == "200" && (uri == "/update.txt" || uri == "/update.sums"))
                    EXPECT_LT(f.value(4).toLongLong(), QFileInfo(site.filePath("site" + uri)).size())
                        << "sent compressed: " << line.toStdString();
            }
        }
        seen = log.size();
        std::sort(lists.begin(), lists.end());
        EXPECT_EQ(lists, step.requests);
    }
    EXPECT_GT(chunkRequests, 0);
}

}  // namespace

namespace {
// update.sums for a site written by writeSite.
void writeSums(const TempDir& site, const QList<SiteFile>& files)
{
    const auto line = [](const QByteArray& content, const QByteArray& name) {
        return QCryptographicHash::hash(content, QCryptographicHash::Sha256).toHex() + "  " + name + '\n';
    };
    QByteArray sums = line(site.read("update.txt"), "update.txt");
    for (const SiteFile& f : files)
        sums += line(f.content, f.listed);
    site.write("update.sums", sums);
}

// Waits until the download folder holds a file of this name's and size (a complete download).
bool waitForDownload(const TempDir& install, const QString& name, qint64 size)
{
    for (int tries = 0; tries < 500; ++tries) {
        QDirIterator it(install.filePath("temp"), {name + ".*.part"}, QDir::Files);
        while (it.hasNext())
            if (QFileInfo(it.next()).size() == size)
                return true;
        QThread::msleep(20);
    }
    return false;
}
}  // namespace

// SIGINT, SIGTERM and SIGHUP cancel a quiet run: it ends with the cancel status and its "end"
// line, writes its record and releases the installation; the complete downloads it leaves are
// checked by their hash on the next run, not fetched again.
TEST(RenewelProcess, StopSignalsCancelAndTheNextRunKeepsCompleteDownloads)
{
    for (const int signal : {SIGTERM, SIGINT, SIGHUP}) {
        SCOPED_TRACE(signal);
        TempDir site, install;
        // The slow file comes first in the list: the others are fetched ahead but not installed.
        const QList<SiteFile> files = {{"\\slow.bin", bytes(300000, 's')}, {"\\a.bin", bytes(3000, 'a')},
                                       {"\\b.bin", bytes(90000, 'b')}, {"\\same.txt", "same"}};
        writeSite(site, files);
        writeSums(site, files);
        install.write("same.txt", "same");
        FaultServer server(site.path());
        server.stall("/slow.bin", 1000);
        prepareInstall(install, server.url("/"));

        auto first = start(install, {"quiet", "--progress"});
        ASSERT_TRUE(waitForDownload(install, "a.bin", 3000) && waitForDownload(install, "b.bin", 90000));
        ::kill(pid_t(first->processId()), signal);
        expectEnds(*first, 2);
        EXPECT_TRUE(first->readAllStandardOutput().endsWith("\nend cancelled 2\n"));
        EXPECT_TRUE(install.exists("renewel.state"));
        EXPECT_FALSE(install.exists("a.bin"));

        server.clearFaults();
        auto next = start(install, {"quiet"});
        expectEnds(*next, 0);
        for (const SiteFile& f : files)
            EXPECT_EQ(install.read(installedName(f.listed)), f.content) << f.listed.constData();
        EXPECT_EQ(requestsFor(server, "/a.bin"), 1);
        EXPECT_EQ(requestsFor(server, "/b.bin"), 1);
    }
}

// A check is cancelled the same way.
TEST(RenewelProcess, StopSignalCancelsACheck)
{
    TempDir site, install;
    writeSite(site, {{"\\a.txt", "new"}});
    FaultServer server(site.path());
    server.stall("/update.txt", 10);
    prepareInstall(install, server.url("/"));
    auto process = start(install, {"check"});
    for (int tries = 0; tries < 500 && requestsFor(server, "/update.txt") == 0; ++tries)
        QThread::msleep(20);
    ::kill(pid_t(process->processId()), SIGTERM);
    expectEnds(*process, 2);
}

namespace {
bool executable(const TempDir& dir, const QString& name)
{
    return QFileInfo(dir.filePath(name)).permissions() & QFileDevice::ExeOwner;
}

void setExecutable(const TempDir& dir, const QString& name, bool on)
{
    QFile::setPermissions(dir.filePath(name), on ? QFileDevice::Permissions(0x7755) : QFileDevice::Permissions(0x6644));
}
}  // namespace

// The executable bit of each released file is published under the signature and given to the
// installed file: new, replaced, or with current content and the other bit (set and cleared in
// place, which check names). The site's checksum lines stay those of the sha256sum tool.
TEST(RenewelProcess, ExecutableBitsFollowThePublishedRelease)
{
    TempDir keys, release, site, install;
    runTool("minisign", {"-G", "-W", "-p", keys.filePath("studio.pub"), "-s", keys.filePath("studio.key")});
    const struct {
        QString name;
        bool released;  // the release's bit
        std::optional<bool> installed;  // the installed copy's bit, with current content; nothing: none
        QByteArray old;                 // or old content with a 0644 copy
    } cases[] = {
        {"bin/new.sh", true, std::nullopt, {}},
        {"bin/replaced.sh", true, std::nullopt, "old"},
        {"bin/plain.txt", false, std::nullopt, "old"},
        {"bin/added.sh", true, false, {}},
        {"bin/removed.sh", false, true, {}},
        {"bin/kept.sh", true, true, {}},
    };
    for (const auto& c : cases) {
        release.write(c.name, "#!/bin/sh\n# " + c.name.toUtf8() + '\n');
        setExecutable(release, c.name, c.released);
        if (c.installed) {
            install.write(c.name, release.read(c.name));
            setExecutable(install, c.name, *c.installed);
        } else if (!c.old.isEmpty()) {
            install.write(c.name, c.old);
        }
    }
    runTool(QStringLiteral(IV_BINARY_DIR "/publish/renewel-publish"),
            {release.path(), site.filePath("site"), "--key", keys.filePath("studio.key")});
    QProcess sums;
    sums.setWorkingDirectory(site.filePath("site"));
    sums.start("sha256sum", {"--check", "--strict", "--ignore-missing", "update.sums"});
    ASSERT_TRUE(sums.waitForFinished(EndTimeoutMs));
    EXPECT_EQ(sums.exitCode(), 0) << sums.readAllStandardError().toStdString();
    EXPECT_EQ(sums.readAllStandardOutput(), "update.txt: OK\n");

    NginxServer nginx(site.filePath("site"));
    ASSERT_TRUE(nginx.isRunning()) << nginx.error().toStdString();
    prepareInstall(install, nginx.url("/"));
    install.write("renewel.lng", install.read("renewel.lng") + "#UpdateKey " +
                                     keys.read("studio.pub").split('\n').value(1) + "\r\n");
    const auto [status, printed] = check(install);
    EXPECT_EQ(status, 3);
    EXPECT_TRUE(printed.contains("mode \\bin\\added.sh +x\nmode \\bin\\removed.sh -x\n")) << printed.toStdString();
    EXPECT_TRUE(printed.contains(", 0 to delete, 2 to change mode\nspace needed: ")) << printed.toStdString();

    auto quiet = start(install, {"quiet"});
    expectEnds(*quiet, 0);
    for (const auto& c : cases) {
        EXPECT_EQ(install.read(c.name), release.read(c.name)) << c.name.toStdString();
        EXPECT_EQ(executable(install, c.name), c.released) << c.name.toStdString();
    }
    EXPECT_EQ(check(install), std::make_pair(0, QByteArray("up to date\n")));

    // repair gives a file its bit again.
    setExecutable(install, "bin/kept.sh", false);
    auto repair = start(install, {"repair"});
    expectEnds(*repair, 0);
    EXPECT_TRUE(executable(install, "bin/kept.sh"));
}

// A site published before executable bits were published says nothing of modes: installed files keep theirs,
// a replaced one the bit of the file it replaced.
TEST(RenewelProcess, ASiteWithoutModesLeavesThemAsInstalled)
{
    TempDir site, install;
    const QList<SiteFile> files = {{"\\run.sh", "new run"}, {"\\kept.sh", "kept"}, {"\\plain.txt", "new plain"}};
    writeSite(site, files);
    writeSums(site, files);
    for (const SiteFile& f : files) {
        install.write(installedName(f.listed), f.listed == "\\kept.sh" ? f.content : QByteArray("old"));
        setExecutable(install, installedName(f.listed), f.listed != "\\plain.txt");
    }
    FaultServer server(site.path());
    prepareInstall(install, server.url("/"));
    auto quiet = start(install, {"quiet"});
    expectEnds(*quiet, 0);
    for (const SiteFile& f : files) {
        EXPECT_EQ(install.read(installedName(f.listed)), f.content);
        EXPECT_EQ(executable(install, installedName(f.listed)), f.listed != "\\plain.txt") << f.listed.constData();
    }
}
