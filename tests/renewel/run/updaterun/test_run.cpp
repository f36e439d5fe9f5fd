// The update run against the fault server: what it fetches, installs, shows and leaves behind.

#include "UpdateFixture.h"

#include "Exception.h"

#include <QDir>

namespace {
const QList<QByteArray> kDoneEnd = {"message All done", "terminate"};

QList<QByteArray> tail(const QList<QByteArray>& events, qsizetype n) { return events.mid(events.size() - n); }
}  // namespace

TEST_F(UpdateFixture, FetchesOnlyDifferingFilesAndInstallsThem)
{
    install("a.txt", "old");
    install("same.txt", "same");
    publish("a.txt", "new a");
    publish("same.txt", "SAME");
    publish("maps/deep/new.ivm", "map!!!");
    publishList({"\\a.txt", "5", "\\same.txt", "4", "\\absent.txt", "0", "\\maps\\deep\\new.ivm", "6"});

    update();

    // The lists first; the files in parallel, in any order.
    QList<QByteArray> paths = requestedPaths();
    std::sort(paths.begin() + std::min<qsizetype>(2, paths.size()), paths.end());
    EXPECT_EQ(paths, (QList<QByteArray>{"/update.txt", "/update.sums", "/a.txt", "/maps/deep/new.ivm"}));
    EXPECT_EQ(installed("a.txt"), "new a");
    EXPECT_EQ(installed("same.txt"), "same");  // only sizes are compared
    EXPECT_FALSE(root.exists("game/absent.txt"));
    EXPECT_EQ(installed("maps/deep/new.ivm"), "map!!!");
    EXPECT_FALSE(root.exists("game/temp"));
    EXPECT_EQ(allEntries(), (QStringList{"game", "game/a.txt", "game/maps", "game/maps/deep",
                                         "game/maps/deep/new.ivm", "game/renewel.state", "game/same.txt",
                                         "renewel.lng"}));

    EXPECT_EQ(host.statuses, (QList<QByteArray>{"Loading update.txt ...", "Checking files",
                                                "Loading \\a.txt ... [0\\4]", "Loading \\same.txt ... [1\\4]",
                                                "Loading \\absent.txt ... [2\\4]",
                                                "Loading \\maps\\deep\\new.ivm ... [3\\4]"}));
    EXPECT_EQ(host.positions, (QList<int>{0, 0, 2, 4, 6}));
    EXPECT_TRUE(host.events.contains("max 8"));
    EXPECT_EQ(tail(host.events, 2), kDoneEnd);
    EXPECT_EQ(host.terminates, 1);
    EXPECT_EQ(run->UpdateList.entries.size(), 4);
    EXPECT_FALSE(run->running());
}

TEST_F(UpdateFixture, ListWithOnlyItsHeaderEndsDone)
{
    publishList({});
    update();
    EXPECT_EQ(requestedPaths(), (QList<QByteArray>{"/update.txt", "/update.sums"}));
    EXPECT_FALSE(root.exists("game/temp"));
    EXPECT_EQ(host.events, (QList<QByteArray>{"status Loading update.txt ...", "status Checking files", "max 0",
                                              "message All done", "terminate"}));
}

TEST_F(UpdateFixture, QuietRunShowsNoDone)
{
    quiet = true;
    publish("a.txt", "abc");
    publishList({"\\a.txt", "3"});
    update();
    EXPECT_EQ(installed("a.txt"), "abc");
    EXPECT_TRUE(host.messages.isEmpty());
    EXPECT_EQ(host.terminates, 1);
}

TEST_F(UpdateFixture, FailedDownloadStopsTheRunAndKeepsTheRest)
{
    for (const bool beQuiet : {false, true}) {
        SCOPED_TRACE(beQuiet ? "quiet" : "interactive");
        QDir(root.filePath("game")).removeRecursively();
        quiet = beQuiet;
        host.events.clear();
        host.messages.clear();
        host.terminates = 0;
        QList<QByteArray> list;
        for (int i = 1; i <= 5; ++i) {
            const QString name = QStringLiteral("f%1.dat").arg(i);
            install(name, "old");
            publish(name, QByteArray(10 * i, char('0' + i)));
            list << "\\" + name.toLatin1() << QByteArray::number(10 * i);
        }
        server.shortBody("/f3.dat", 30, 7);
        publishList(list);

        const UpdateOutcome outcome = update();

        EXPECT_EQ(outcome.kind, UpdateOutcome::Failed);
        EXPECT_EQ(outcome.subject, server.url("/f3.dat"));
        EXPECT_EQ(outcome.reason, "short body (7 of 30 bytes)");
        // The release switches whole or not at all: the two files before the failure stay staged.
        for (const char* untouched : {"f1.dat", "f2.dat", "f3.dat", "f4.dat", "f5.dat"})
            EXPECT_EQ(installed(untouched), "old") << untouched;
        EXPECT_TRUE(inTemp("update.txt"));
        // The partial third file stays in the download folder under its own name.
        const QStringList partial = QDir(root.filePath("game/temp")).entryList({"f3.dat.*.part"});
        ASSERT_EQ(partial.size(), 1);
        EXPECT_EQ(root.size("game/temp/" + partial[0]), 7);
        const QList<QByteArray> end = quiet ? QList<QByteArray>{"terminate"}
                                            : QList<QByteArray>{"message Download failed", "terminate"};
        EXPECT_EQ(tail(host.events, end.size()), end);
        EXPECT_FALSE(host.messages.contains("All done"));
    }
}

TEST_F(UpdateFixture, ListThatCannotBeFetchedEndsWithoutDone)
{
    struct Case {
        const char* name;
        std::function<void()> arrange;
    };
    const std::vector<Case> cases = {
        {"refused connection", [this] { useSite(FaultServer::refusedUrl("/").toLatin1()); }},
        {"no content length", [this] { publishList({}); server.omitLength("/update.txt"); }},
        {"short body", [this] { publishList({}); server.shortBody("/update.txt", 500, 20); }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        quiet = false;
        host.events.clear();
        host.terminates = 0;
        server.clearFaults();
        useSite(server.url("/").toLatin1());
        c.arrange();

        EXPECT_EQ(update().kind, UpdateOutcome::Failed);

        EXPECT_EQ(tail(host.events, 3), (QList<QByteArray>{"status Checking files", "message Download failed",
                                                           "terminate"}));
        EXPECT_FALSE(host.events.contains("message All done"));
        // a partial list is left where it was downloaded; an empty folder is removed
        EXPECT_EQ(root.exists("game/temp"), root.exists("game/temp/update.txt"));
        QDir(root.filePath("game/temp")).removeRecursively();
    }
}

TEST_F(UpdateFixture, SizeLineThatIsNoIntegerReachesTheErrorReport)
{
    const std::vector<std::pair<QByteArray, QString>> cases = {
        {"Header\r\n\\a.txt\r\n3\r\n\\b.txt", "'' is not a valid integer value"},  // odd line count
        {"Header\r\n\\a.txt\r\n3\r\n\r\n", "'' is not a valid integer value"},      // trailing empty line
        {"Header\r\n\\a.txt\r\n3\r\n\\b.txt\r\n12x\r\n", "'12x' is not a valid integer value"},
        {"<html>\r\n<body>Not Found</body>\r\n</html>\r\n", "'</html>' is not a valid integer value"},
    };
    install("a.txt", "ab");  // differs from the listed size: due for download
    publish("a.txt", "new");
    for (const bool beQuiet : {false, true}) {
        for (const auto& [list, message] : cases) {
            SCOPED_TRACE((beQuiet ? "quiet " : "") + list.toStdString());
            quiet = beQuiet;
            host.events.clear();
            host.terminates = 0;
            site.write("update.txt", list);
            EXPECT_EQ(update().kind, UpdateOutcome::Failed);
            // The report, then (quiet only) the request to end once it has been closed.
            const QList<QByteArray> end = quiet ? QList<QByteArray>{"report " + message.toUtf8(), "terminate"}
                                                : QList<QByteArray>{"report " + message.toUtf8()};
            EXPECT_EQ(tail(host.events, end.size()), end);
            EXPECT_EQ(host.terminates, quiet ? 1 : 0);  // the window stays open unless quiet
            EXPECT_EQ(installed("a.txt"), "ab");  // nothing installed before the list was checked
            EXPECT_FALSE(requestedPaths().contains("/a.txt"));
            EXPECT_FALSE(host.events.contains("message All done"));
            EXPECT_FALSE(run->running());  // a later click starts a fresh run
        }
    }
}

TEST_F(UpdateFixture, DownloadOfAnotherSizeThanListedIsNeverInstalled)
{
    const struct {
        const char* name;
        QByteArray body;
        qint64 announce;  // -1: the body's own size
        QString reason;
    } cases[] = {
        {"announced 0", QByteArray(100, 'z'), 0, "received 0 bytes, the list says 100"},
        {"complete but shorter", QByteArray(50, 's'), -1, "received 50 bytes, the list says 100"},
        {"longer", QByteArray(150, 'l'), -1, "too long (150 bytes, at most 100)"},
    };
    install("f.dat", "old");
    install("g.dat", "old");
    publish("g.dat", "newer");
    publishList({"\\f.dat", "100", "\\g.dat", "5"});
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        server.clearFaults();
        publish("f.dat", c.body);
        if (c.announce >= 0)
            server.shortBody("/f.dat", c.announce, c.announce);
        const UpdateOutcome outcome = update();
        EXPECT_EQ(outcome.kind, UpdateOutcome::Failed);
        EXPECT_EQ(outcome.subject, server.url("/f.dat"));
        EXPECT_EQ(outcome.reason, c.reason);
        EXPECT_EQ(installed("f.dat"), "old");
        EXPECT_EQ(installed("g.dat"), "old");  // the run stopped there
    }
}

TEST_F(UpdateFixture, DownloadFolderThatCannotBeCreated)
{
    install("temp", "a file where the folder should be");
    publishList({});
    EXPECT_EQ(update().kind, UpdateOutcome::Failed);
    EXPECT_EQ(host.events.last(), "report Download failed");
    EXPECT_EQ(server.requestCount(), 0);
    EXPECT_EQ(host.terminates, 0);

    // Quiet: the run goes on, finds no list, and ends silently.
    quiet = true;
    update();
    EXPECT_TRUE(host.messages.isEmpty());
    EXPECT_GE(host.terminates, 1);
    EXPECT_EQ(host.events.last(), "terminate");
    EXPECT_EQ(installed("temp"), "a file where the folder should be");
}

TEST_F(UpdateFixture, SecondRunInsideARunStartsNothing)
{
    publish("a.txt", "abcdef");
    publishList({"\\a.txt", "6"});
    int nested = 0;
    host.onProcessMessages = [&] {
        ++nested;
        EXPECT_FALSE(run->start());  // a click or timer tick while the run works
    };
    update();

    EXPECT_GE(nested, 2);
    EXPECT_EQ(requestedPaths(), (QList<QByteArray>{"/update.txt", "/update.sums", "/a.txt"}));
    EXPECT_EQ(host.messages, QList<QByteArray>{"All done"});
    EXPECT_EQ(host.terminates, 1);
    EXPECT_EQ(installed("a.txt"), "abcdef");

    // Once it has ended, the next click runs again.
    host.onProcessMessages = nullptr;
    update();
    EXPECT_EQ(host.terminates, 2);
}
