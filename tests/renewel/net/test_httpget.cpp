// THTTPGet against the loopback fault server and a real nginx: request shape, outcome rules,
// progress, abort, stall limit, destruction during a download, redirects and HTTPS.

#include "FaultServer.h"
#include "net/HTTPGet.h"
#include "net/HTTPGetThread.h"
#include "NginxServer.h"
#include "TempDir.h"

#include "Application.h"
#include "Exception.h"
#include "MessageBox.h"

#include <gtest/gtest.h>

#include <QUrl>
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QTest>
#include <QThread>
#include <QTimer>

#include <ctime>
#include <memory>

namespace {

struct Progress {
    QObject* sender;
    bool senderIsWorker;
    qint64 total;
    qint64 readed;
    bool onMainThread;
};

class HttpGetTest : public ::testing::Test {
protected:
    HttpGetTest() : srv(tmp.filePath("site"))
    {
        tmp.write("site/files/a.txt", "hello, ironvale\n");
        get = std::make_unique<THTTPGet>();
        get->OnDoneFile = [this](QObject* s, const QString& name, qint64 size) {
            EXPECT_EQ(s, get.get());
            ++done;
            doneName = name;
            doneSize = size;
        };
        get->OnError = [this](QObject* s) {
            EXPECT_EQ(s, get.get());
            ++errors;
        };
    }

    // Fetches url into tmp/<file> and waits for the end; true when it succeeded.
    bool fetch(const QString& url, const QString& file = "out.bin")
    {
        get->URL = url;
        get->FileName = tmp.filePath(file);
        get->WaitThread = true;
        get->Fetch();
        EXPECT_FALSE(get->Running());
        EXPECT_EQ(done + errors, 1) << "exactly one done or error event per download";
        return get->Succeeded();
    }

    void startAndWait(const QString& url)
    {
        get->URL = url;
        get->FileName = tmp.filePath("out.bin");
        get->Fetch();
    }

    void recordProgress()
    {
        get->OnProgress = [this](QObject* s, qint64 total, qint64 readed) {
            progress.push_back({s, qobject_cast<THTTPGetThread*>(s) != nullptr, total, readed,
                                QThread::currentThread() == qApp->thread()});
        };
    }

    TempDir tmp;
    FaultServer srv;
    std::unique_ptr<THTTPGet> get;
    int done = 0, errors = 0;
    QString doneName;
    qint64 doneSize = -1;
    std::vector<Progress> progress;
};

QByteArray header(const QByteArray& request, const QByteArray& name)
{
    for (const QByteArray& line : request.left(request.indexOf("\r\n\r\n")).split('\n'))
        if (line.toLower().startsWith(name.toLower() + ":"))
            return line.mid(name.size() + 1).trimmed();
    return {};
}

bool hasHeader(const QByteArray& request, const QByteArray& name)
{
    return request.left(request.indexOf("\r\n\r\n")).toLower().contains("\n" + name.toLower() + ":");
}

double threadCpuSeconds()
{
    timespec ts{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
    return double(ts.tv_sec) + double(ts.tv_nsec) / 1e9;
}

}  // namespace

TEST(HttpGetDefaults, PropertiesStartAsDocumented)
{
    THTTPGet g;
    EXPECT_EQ(g.AcceptTypes, "*/*");
    EXPECT_EQ(g.Agent, "Quillnet HTTPGet");
    EXPECT_FALSE(g.BinaryData);
    EXPECT_FALSE(g.UseCache);
    EXPECT_FALSE(g.WaitThread);
    EXPECT_TRUE(g.URL.isEmpty() && g.FileName.isEmpty() && g.PostQuery.isEmpty());
    EXPECT_FALSE(g.Succeeded());
    EXPECT_FALSE(g.Running());
}

TEST(HttpGetSplitUrl, HostPortAndPath)
{
    struct Case {
        const char* url;
        bool valid, https;
        const char* host;
        int port;
        const char* path;
    } cases[] = {
        {"http://example.org/files/a.txt", true, false, "example.org", 80, "/files/a.txt"},
        {"HTTP://Example.org/files/a.txt", true, false, "Example.org", 80, "/files/a.txt"},
        {"hTtP://h/x", true, false, "h", 80, "/x"},
        {"example.org/files/a.txt", true, false, "example.org", 80, "/files/a.txt"},
        {"http://example.org/", true, false, "example.org", 80, "/"},
        {"http://example.org", false, false, "", 80, "example.org"},
        {"http://127.0.0.1:8080/x", true, false, "127.0.0.1", 8080, "/x"},
        {"https://h/x", true, true, "h", 443, "/x"},
        {"HTTPS://h:8443/x/y", true, true, "h", 8443, "/x/y"},
        {"http://[::1]:81/x", true, false, "[::1]", 81, "/x"},
        {"http://[::1]/x", true, false, "[::1]", 80, "/x"},
        {"http://h:abc/x", false, false, "", 80, "/x"},
        {"http://h:70000/x", false, false, "", 80, "/x"},
        {"http:///x", false, false, "", 80, "/x"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.url);
        const HTTPUrl u = SplitUrl(c.url);
        EXPECT_EQ(u.Valid, c.valid);
        EXPECT_EQ(u.ObjectPath, c.path);
        if (c.valid) {
            EXPECT_EQ(u.Https, c.https);
            EXPECT_EQ(u.HostName, c.host);
            EXPECT_EQ(u.Port, c.port);
        }
    }
}

TEST_F(HttpGetTest, GetRequestLineAndDefaultHeaders)
{
    ASSERT_TRUE(fetch(srv.url("/files/a.txt")));
    const QByteArray r = srv.lastRequest();
    EXPECT_TRUE(r.startsWith("GET /files/a.txt HTTP/1.0\r\n")) << r.constData();
    EXPECT_EQ(header(r, "Host"), "127.0.0.1:" + QByteArray::number(srv.port()));
    EXPECT_EQ(header(r, "Accept"), "*/*");
    EXPECT_EQ(header(r, "User-Agent"), "Quillnet HTTPGet");
    EXPECT_EQ(header(r, "Cache-Control"), "no-cache");
    EXPECT_EQ(header(r, "Pragma"), "no-cache");
    for (const char* absent : {"Referer", "Content-Type", "Content-Length", "Authorization"})
        EXPECT_FALSE(hasHeader(r, absent)) << absent;
    EXPECT_TRUE(r.endsWith("\r\n\r\n"));
}

TEST_F(HttpGetTest, RequestSettingsShapeTheHeaders)
{
    struct Case {
        const char* name;
        std::function<void(THTTPGet&)> set;
        std::function<void(const QByteArray&)> check;
    } cases[] = {
        {"empty agent sends no User-Agent", [](THTTPGet& g) { g.Agent.clear(); },
         [](const QByteArray& r) { EXPECT_FALSE(hasHeader(r, "User-Agent")); }},
        {"own agent", [](THTTPGet& g) { g.Agent = "Ironvale Updater"; },
         [](const QByteArray& r) { EXPECT_EQ(header(r, "User-Agent"), "Ironvale Updater"); }},
        {"referrer", [](THTTPGet& g) { g.Referer = "http://ironvale.example/news"; },
         [](const QByteArray& r) { EXPECT_EQ(header(r, "Referer"), "http://ironvale.example/news"); }},
        {"accept types", [](THTTPGet& g) { g.AcceptTypes = "text/plain"; },
         [](const QByteArray& r) { EXPECT_EQ(header(r, "Accept"), "text/plain"); }},
        {"cache allowed", [](THTTPGet& g) { g.UseCache = true; },
         [](const QByteArray& r) {
             EXPECT_FALSE(hasHeader(r, "Cache-Control"));
             EXPECT_FALSE(hasHeader(r, "Pragma"));
         }},
        {"user and password", [](THTTPGet& g) { g.UserName = "ivuser"; g.Password = "s3cret"; },
         [](const QByteArray& r) {
             EXPECT_EQ(header(r, "Authorization"), "Basic " + QByteArray("ivuser:s3cret").toBase64());
         }},
        {"post", [](THTTPGet& g) { g.PostQuery = "name=ivale&ver=3"; },
         [](const QByteArray& r) {
             EXPECT_TRUE(r.startsWith("POST /files/a.txt HTTP/1.0\r\n")) << r.constData();
             EXPECT_TRUE(r.contains("\r\nContent-Type: application/x-www-form-urlencoded\r\n"));
             EXPECT_EQ(QByteArray("Content-Type: application/x-www-form-urlencoded").size(), 47);
             EXPECT_EQ(header(r, "Content-Length"), "16");
             EXPECT_TRUE(r.endsWith("\r\n\r\nname=ivale&ver=3"));
         }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        get = std::make_unique<THTTPGet>();
        get->WaitThread = true;
        get->URL = srv.url("/files/a.txt");
        get->FileName = tmp.filePath("out.bin");
        c.set(*get);
        get->Fetch();
        EXPECT_TRUE(get->Succeeded());
        c.check(srv.lastRequest());
    }
}

TEST_F(HttpGetTest, AddressFormsReachTheSameFile)
{
    const QString hostPort = QStringLiteral("127.0.0.1:%1").arg(srv.port());
    for (const QString& url : {"http://" + hostPort + "/files/a.txt", "HTTP://" + hostPort + "/files/a.txt",
                               hostPort + "/files/a.txt"}) {
        SCOPED_TRACE(url.toStdString());
        done = errors = 0;
        EXPECT_TRUE(fetch(url));
        EXPECT_EQ(tmp.read("out.bin"), "hello, ironvale\n");
        EXPECT_TRUE(srv.lastRequest().startsWith("GET /files/a.txt HTTP/1.0\r\n"));
    }
    // A space in a listed name is sent escaped.
    tmp.write("site/files/my map.ivm", "map");
    done = errors = 0;
    EXPECT_TRUE(fetch(srv.url("/files/my map.ivm")));
    EXPECT_TRUE(srv.lastRequest().startsWith("GET /files/my%20map.ivm HTTP/1.0\r\n"));
}

TEST_F(HttpGetTest, OutcomeRules)
{
    const QByteArray old = "previous contents";
    struct Case {
        const char* name;
        std::function<void(FaultServer&)> arrange;
        bool binaryData;
        bool succeeds;
        QByteArray fileAfter;  // "<old>": the earlier file untouched; "<none>": no file
    } cases[] = {
        {"complete body", [](FaultServer& s) { s.setBody("/f", "0123456789"); }, true, true, "0123456789"},
        {"zero length makes an empty file", [](FaultServer& s) { s.setBody("/f", ""); }, true, true, ""},
        {"no length with BinaryData: nothing written",
         [](FaultServer& s) { s.setBody("/f", "abc"); s.omitLength("/f"); }, true, false, "<old>"},
        {"no length, text data, empty body", [](FaultServer& s) { s.setBody("/f", ""); s.omitLength("/f"); },
         false, true, ""},
        {"no length, text data, some body: size unknown counts as incomplete",
         [](FaultServer& s) { s.setBody("/f", "abc"); s.omitLength("/f"); }, false, false, "abc"},
        {"short body keeps the partial file",
         [](FaultServer& s) { s.setBody("/f", "0123456789"); s.shortBody("/f", 10, 4); }, true, false, "0123"},
        {"404 page is not stored", [](FaultServer& s) { s.status("/f", 404, "<h1>Not Found</h1>"); }, true,
         false, "<old>"},
        {"500 page is not stored", [](FaultServer& s) { s.status("/f", 500, "oops"); }, false, false, "<old>"},
        {"empty 204 is a success", [](FaultServer& s) { s.status("/f", 204); }, true, true, ""},
        {"connection closed at once", [](FaultServer& s) { s.abortConnection("/f"); }, false, false, "<old>"},
        {"redirect followed", [](FaultServer& s) { s.setBody("/g", "target"); s.redirect("/f", "/g"); }, true,
         true, "target"},
        {"redirect with a body of its own",
         [](FaultServer& s) {
             s.setBody("/g", "target");
             FaultServer::Fault f;
             f.status = 301;
             f.location = "/g";
             s.setFault("/f", f);
             s.setBody("/f", "moved here");
         },
         true, true, "target"},
        {"redirect loop fails", [](FaultServer& s) { s.redirect("/f", "/f"); }, true, false, "<old>"},
        {"redirect to another scheme fails", [](FaultServer& s) { s.redirect("/f", "ftp://127.0.0.1/x"); },
         false, false, "<old>"},
        {"redirect to an error", [](FaultServer& s) { s.redirect("/f", "/missing"); }, false, false, "<old>"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        FaultServer s;
        c.arrange(s);
        tmp.write("out.bin", old);
        done = errors = 0;
        get->BinaryData = c.binaryData;
        const bool ok = fetch(s.url("/f"));
        EXPECT_EQ(ok, c.succeeds) << get->LastError().toStdString();
        EXPECT_EQ(done, c.succeeds ? 1 : 0);
        EXPECT_EQ(errors, c.succeeds ? 0 : 1);
        if (c.fileAfter == "<old>")
            EXPECT_EQ(tmp.read("out.bin"), old);
        else
            EXPECT_EQ(tmp.read("out.bin"), c.fileAfter);
        if (c.succeeds) {
            EXPECT_EQ(doneName, tmp.filePath("out.bin"));
            EXPECT_EQ(doneSize, c.fileAfter.size());
        }
    }
}

// A refused redirect names the scheme it would have gone to.
TEST_F(HttpGetTest, ARefusedRedirectNamesItsScheme)
{
    for (const char* to : {"ftp://127.0.0.1/x", "gopher://127.0.0.1/x", "file:///etc/passwd", "FILE:///etc/passwd"}) {
        SCOPED_TRACE(to);
        FaultServer s;
        s.redirect("/f", to);
        done = errors = 0;
        EXPECT_FALSE(fetch(s.url("/f")));
        EXPECT_EQ(get->LastError(), "protocol not allowed after a redirect (http to " +
                                        QUrl(QString::fromLatin1(to)).scheme().toLower() + ")");
    }
}

TEST_F(HttpGetTest, FailuresBeforeAnyResponseCreateNoFile)
{
    const QString missingFolder = tmp.filePath("no/such/folder/out.bin");
    struct Case {
        const char* name;
        QString url;
        QString file;
    } cases[] = {
        {"refused connection", FaultServer::refusedUrl("/f"), tmp.filePath("out.bin")},
        {"no host", "http://nohost", tmp.filePath("out.bin")},
        {"unsupported scheme", "ftp://127.0.0.1/x", tmp.filePath("out.bin")},
        {"file cannot be created", srv.url("/files/a.txt"), missingFolder},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        for (bool binary : {false, true}) {
            done = errors = 0;
            get->BinaryData = binary;
            get->URL = c.url;
            get->FileName = c.file;
            get->WaitThread = true;
            get->Fetch();
            EXPECT_FALSE(get->Succeeded());
            EXPECT_EQ(errors, 1);
            EXPECT_EQ(done, 0);
            EXPECT_FALSE(QFile::exists(c.file));
        }
    }
}

TEST_F(HttpGetTest, LengthsBeyond32BitsAreKept)
{
    const qint64 announced = 3'000'000'000LL;
    srv.shortBody("/huge", announced, 5000);
    recordProgress();
    EXPECT_FALSE(fetch(srv.url("/huge")));
    ASSERT_FALSE(progress.empty());
    EXPECT_EQ(progress.back().total, announced);
    EXPECT_EQ(progress.back().readed, 5000);
    EXPECT_EQ(tmp.size("out.bin"), 5000);
}

TEST_F(HttpGetTest, ProgressReportsRunningTotalsAtABoundedRate)
{
    const qint64 size = 400 * 1024;
    QByteArray body(size, 'x');
    srv.setBody("/p", body);
    FaultServer::Fault f;
    f.bytesPerSecond = 2 * 1024 * 1024;  // about 200 ms
    srv.setFault("/p", f);
    recordProgress();
    QElapsedTimer clock;
    clock.start();
    ASSERT_TRUE(fetch(srv.url("/p")));
    const qint64 elapsedMs = clock.elapsed();

    ASSERT_GE(progress.size(), 2u);
    EXPECT_LE(qint64(progress.size()), elapsedMs / 20 + 2) << "at most one call per 20 ms and a last one";
    qint64 previous = 0;
    for (const Progress& p : progress) {
        EXPECT_TRUE(p.onMainThread);
        EXPECT_NE(p.sender, get.get()) << "the sender is the worker, not the component";
        EXPECT_TRUE(p.senderIsWorker);
        EXPECT_EQ(p.total, size);
        EXPECT_GT(p.readed, previous);
        previous = p.readed;
    }
    EXPECT_EQ(progress.back().readed, size);
}

TEST_F(HttpGetTest, ProgressWithoutLengthHasTotalZero)
{
    srv.setBody("/n", QByteArray(5000, 'n'));
    srv.omitLength("/n");
    recordProgress();
    get->BinaryData = false;
    fetch(srv.url("/n"));
    ASSERT_FALSE(progress.empty());
    for (const Progress& p : progress)
        EXPECT_EQ(p.total, 0);
}

TEST_F(HttpGetTest, ProgressHandlerIsCopiedAtStart)
{
    srv.setBody("/p", QByteArray(64 * 1024, 'p'));
    srv.rateLimit("/p", 256 * 1024);
    int before = 0, after = 0;
    get->OnProgress = [&](QObject*, qint64, qint64) { ++before; };
    startAndWait(srv.url("/p"));
    get->OnProgress = [&](QObject*, qint64, qint64) { ++after; };
    ASSERT_TRUE(QTest::qWaitFor([&] { return !get->Running(); }, 5000));
    EXPECT_GT(before, 0);
    EXPECT_EQ(after, 0);
}

TEST_F(HttpGetTest, FetchWhileRunningIsIgnored)
{
    srv.setBody("/slow", QByteArray(50 * 1024, 's'));
    srv.rateLimit("/slow", 250 * 1024);
    startAndWait(srv.url("/slow"));
    EXPECT_TRUE(get->Running());
    get->URL = srv.url("/files/a.txt");
    get->Fetch();
    ASSERT_TRUE(QTest::qWaitFor([&] { return !get->Running(); }, 5000));
    QTest::qWait(100);
    EXPECT_EQ(done, 1);
    EXPECT_EQ(errors, 0);
    EXPECT_EQ(srv.requestCount(), 1);
    EXPECT_EQ(doneSize, 50 * 1024);
}

TEST_F(HttpGetTest, AbortEndsTheDownloadAsFailed)
{
    srv.setBody("/slow", QByteArray(1024 * 1024, 's'));
    srv.rateLimit("/slow", 100 * 1024);
    srv.setBody("/stall", QByteArray(10000, 't'));
    srv.stall("/stall", 1000);
    for (const char* path : {"/slow", "/stall"}) {
        SCOPED_TRACE(path);
        done = errors = 0;
        startAndWait(srv.url(path));
        ASSERT_TRUE(QTest::qWaitFor([&] { return tmp.size("out.bin") > 0; }, 5000));
        QElapsedTimer clock;
        clock.start();
        get->Abort();
        EXPECT_TRUE(get->Running()) << "Abort does not wait";
        ASSERT_TRUE(QTest::qWaitFor([&] { return !get->Running(); }, 5000));
        EXPECT_LT(clock.elapsed(), 500) << "the worker notices at once, also when nothing arrives";
        EXPECT_EQ(errors, 1);
        EXPECT_EQ(done, 0);
        EXPECT_FALSE(get->Succeeded());
        EXPECT_GT(tmp.size("out.bin"), 0) << "what arrived stays in the file";
    }
    // Idle: nothing happens.
    done = errors = 0;
    get->Abort();
    QTest::qWait(50);
    EXPECT_EQ(done + errors, 0);
}

TEST_F(HttpGetTest, AbortFromTheProgressHandler)
{
    srv.setBody("/slow", QByteArray(1024 * 1024, 's'));
    srv.rateLimit("/slow", 200 * 1024);
    get->OnProgress = [this](QObject*, qint64, qint64) { get->Abort(); };
    EXPECT_FALSE(fetch(srv.url("/slow")));
    EXPECT_EQ(errors, 1);
}

TEST_F(HttpGetTest, StallLimitEndsASilentDownload)
{
    srv.setBody("/stall", QByteArray(10000, 't'));
    srv.stall("/stall", 1000);
    FaultServer::Fault late;
    late.delayHeadersMs = 5000;
    srv.setFault("/late", late);
    srv.setBody("/late", "x");
    get->StallLimitMs = 300;
    for (const char* path : {"/stall", "/late"}) {
        SCOPED_TRACE(path);
        done = errors = 0;
        QElapsedTimer clock;
        clock.start();
        EXPECT_FALSE(fetch(srv.url(path)));
        EXPECT_EQ(errors, 1);
        EXPECT_GE(clock.elapsed(), 250);
        EXPECT_LT(clock.elapsed(), 3000);
    }
}

TEST_F(HttpGetTest, TricklesAreNoProgress)
{
    // A body below 100 bytes a second over the limit is stalled however steadily it drips, and
    // header lines count as no progress: the whole head must arrive within the limit.
    srv.setBody("/drip", QByteArray(1000, 'd'));
    srv.rateLimit("/drip", 5);  // a byte every 200 ms
    FaultServer::Fault slowHead;
    slowHead.headerLineEveryMs = 300;
    for (int i = 0; i < 8; ++i)
        slowHead.extraHeaders += "X-Pad-" + QByteArray::number(i) + ": x\r\n";
    srv.setFault("/slowhead", slowHead);
    srv.setBody("/slowhead", "x");
    srv.setBody("/steady", QByteArray(600, 's'));
    srv.rateLimit("/steady", 400);  // slow, but above the floor for longer than the limit
    get->StallLimitMs = 1000;
    const struct {
        const char* path;
        bool succeeds;
        QString error;
    } cases[] = {
        {"/drip", false, "stalled for 1 s"},
        {"/slowhead", false, "no response within 1 s"},
        {"/steady", true, ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.path);
        done = errors = 0;
        QElapsedTimer clock;
        clock.start();
        EXPECT_EQ(fetch(srv.url(c.path)), c.succeeds);
        EXPECT_EQ(get->LastError(), c.error);
        EXPECT_LT(clock.elapsed(), 4000);
    }
}

TEST_F(HttpGetTest, DestroyingTheComponentDuringADownloadSilencesIt)
{
    srv.setBody("/slow", QByteArray(1024 * 1024, 's'));
    srv.rateLimit("/slow", 200 * 1024);
    auto events = std::make_shared<int>(0);
    auto arm = [&] {
        get = std::make_unique<THTTPGet>();
        get->OnProgress = [events](QObject*, qint64, qint64) { ++*events; };
        get->OnError = [events](QObject*) { ++*events; };
        get->OnDoneFile = [events](QObject*, const QString&, qint64) { ++*events; };
        startAndWait(srv.url("/slow"));
    };

    // While events flow.
    arm();
    ASSERT_TRUE(QTest::qWaitFor([&] { return *events > 0; }, 5000));
    get.reset();
    const int seen = *events;
    QTest::qWait(100);
    EXPECT_EQ(*events, seen);

    // While the worker waits for a progress call the busy main thread has not run yet.
    *events = 0;
    arm();
    QThread::msleep(200);
    QElapsedTimer clock;
    clock.start();
    get.reset();
    EXPECT_LT(clock.elapsed(), 2000);
    QTest::qWait(100);
    EXPECT_EQ(*events, 0);

    // From inside its own progress handler.
    *events = 0;
    arm();
    get->OnProgress = nullptr;
    get = std::make_unique<THTTPGet>();
    get->OnProgress = [this, events](QObject*, qint64, qint64) {
        ++*events;
        get.reset();
    };
    get->OnError = [events](QObject*) { ++*events; };
    startAndWait(srv.url("/slow"));
    ASSERT_TRUE(QTest::qWaitFor([&] { return get == nullptr; }, 5000));
    QTest::qWait(100);
    EXPECT_EQ(*events, 1);
}

TEST_F(HttpGetTest, WaitingFetchSleepsAndKeepsEventsFlowing)
{
    srv.setBody("/slow", QByteArray(100 * 1024, 's'));
    srv.rateLimit("/slow", 200 * 1024);  // about half a second
    int ticks = 0;
    QTimer timer;
    QObject::connect(&timer, &QTimer::timeout, [&] { ++ticks; });
    timer.start(20);
    const double cpu0 = threadCpuSeconds();
    QElapsedTimer clock;
    clock.start();
    ASSERT_TRUE(fetch(srv.url("/slow")));
    const double wall = double(clock.elapsed()) / 1000.0;
    const double cpu = threadCpuSeconds() - cpu0;
    EXPECT_GT(ticks, 5) << "timers fire during the wait";
    // A polling wait would use the whole wall time; allow generous slack for a loaded machine.
    EXPECT_LT(cpu, 0.3 * wall) << "cpu " << cpu << " s over " << wall << " s";
}

TEST_F(HttpGetTest, QuitRequestedDuringTheWaitEndsTheMainLoopAfterwards)
{
    srv.setBody("/slow", QByteArray(50 * 1024, 's'));
    srv.rateLimit("/slow", 250 * 1024);
    bool fetchReturned = false;
    QTimer::singleShot(0, [&] {
        QTimer::singleShot(50, [] { TApplication::Terminate(); });
        fetch(srv.url("/slow"));
        fetchReturned = true;
    });
    QTimer safety;
    safety.setSingleShot(true);
    QObject::connect(&safety, &QTimer::timeout, [] { QCoreApplication::exit(7); });
    safety.start(10000);
    const int code = TApplication::Run();
    EXPECT_EQ(code, 0) << "the kept quit ended the main loop";
    EXPECT_TRUE(fetchReturned);
    EXPECT_TRUE(get->Succeeded()) << "the quit did not cut the wait short";
}

TEST_F(HttpGetTest, RealServerOverHttpAndHttps)
{
    QByteArray body(300 * 1000 + 7, '\0');
    for (int i = 0; i < body.size(); ++i)
        body[i] = char(i * 7 + 3);
    tmp.write("www/data/file.bin", body);
    NginxServer plain(tmp.filePath("www"));
    ASSERT_TRUE(plain.isRunning()) << plain.error().toStdString();
    EXPECT_TRUE(fetch(plain.url("/data/file.bin")));
    EXPECT_EQ(tmp.read("out.bin"), body);
    done = errors = 0;
    EXPECT_FALSE(fetch(plain.url("/data/missing.bin"), "missing.bin"));
    EXPECT_FALSE(tmp.exists("missing.bin"));

    NginxServer tls(tmp.filePath("www"), {true, {}});
    ASSERT_TRUE(tls.isRunning()) << tls.error().toStdString();
    const QByteArray saved = qgetenv("RENEWEL_CA_BUNDLE");
    qputenv("RENEWEL_CA_BUNDLE", tls.caFile().toUtf8());
    done = errors = 0;
    EXPECT_TRUE(fetch(tls.url("/data/file.bin"), "tls.bin"));
    EXPECT_EQ(tmp.read("tls.bin"), body);
    // Without our CA the server's certificate is not trusted.
    qunsetenv("RENEWEL_CA_BUNDLE");
    done = errors = 0;
    EXPECT_FALSE(fetch(tls.url("/data/file.bin"), "untrusted.bin"));
    EXPECT_FALSE(tmp.exists("untrusted.bin"));
    if (!saved.isEmpty())
        qputenv("RENEWEL_CA_BUNDLE", saved);
}

// A transfer that began as https never continues in clear text; a CA bundle that can't be used
// is named with its variable and file.
TEST_F(HttpGetTest, HttpsStaysHttpsAndABadCaBundleIsNamed)
{
    tmp.write("www/a.bin", "plain text");
    srv.setBody("/a.bin", "plain text");
    NginxServer tls(tmp.filePath("www"),
                    {true, {}, "    location = /moved { return 302 " + srv.url("/a.bin").toUtf8() + "; }\n"});
    ASSERT_TRUE(tls.isRunning()) << tls.error().toStdString();
    const QByteArray saved = qgetenv("RENEWEL_CA_BUNDLE");
    const QString missing = tmp.filePath("no-such.pem");
    const QString empty = tmp.write("empty.pem", "");
    const struct {
        QString url, bundle, error;
    } cases[] = {
        {tls.url("/moved"), tls.caFile(), "protocol not allowed after a redirect (https to http)"},
        {tls.url("/a.bin"), missing, "RENEWEL_CA_BUNDLE: " + missing + ": No such file or directory"},
        {tls.url("/a.bin"), empty, "RENEWEL_CA_BUNDLE: " + empty + ": no usable certificate in it"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.url.toStdString());
        qputenv("RENEWEL_CA_BUNDLE", c.bundle.toUtf8());
        done = errors = 0;
        EXPECT_FALSE(fetch(c.url, "redirected.bin"));
        EXPECT_EQ(get->LastError(), c.error);
        EXPECT_FALSE(tmp.exists("redirected.bin"));
    }
    qunsetenv("RENEWEL_CA_BUNDLE");
    if (!saved.isEmpty())
        qputenv("RENEWEL_CA_BUNDLE", saved);
}

TEST_F(HttpGetTest, WaitingFetchWorksAfterTheApplicationWasToldToQuit)
{
    srv.setBody("/slow", QByteArray(50 * 1024, 's'));
    srv.rateLimit("/slow", 250 * 1024);
    QCoreApplication::exit(0);  // outside the main loop: every event loop now returns at once
    const double cpu0 = threadCpuSeconds();
    QElapsedTimer clock;
    clock.start();
    EXPECT_TRUE(fetch(srv.url("/slow")));
    EXPECT_LT(threadCpuSeconds() - cpu0, 0.3 * double(clock.elapsed()) / 1000.0);
    // Clear the pending quit for later tests: a main loop run resets it.
    QTimer::singleShot(0, [] { QCoreApplication::exit(0); });
    TApplication::Run();
}

TEST_F(HttpGetTest, HandlerExceptionsAreReportedAndDoNotWedgeTheComponent)
{
    QStringList reports;
    setMessageBoxHandler([&](const BoxRequest& r) {
        reports << r.text;
        return 0;
    });
    srv.setBody("/p", QByteArray(20000, 'p'));
    get->OnProgress = [](QObject*, qint64, qint64) { throw Exception("progress broke"); };
    get->OnDoneFile = [](QObject*, const QString&, qint64) { throw Exception("done broke"); };
    get->URL = srv.url("/p");
    get->FileName = tmp.filePath("out.bin");
    get->WaitThread = true;
    get->Fetch();
    setMessageBoxHandler(nullptr);
    EXPECT_FALSE(get->Running());
    EXPECT_TRUE(get->Succeeded());
    EXPECT_TRUE(reports.contains("done broke."));
    EXPECT_TRUE(reports.contains("progress broke."));
    EXPECT_EQ(tmp.size("out.bin"), 20000) << "a failing progress handler does not stop the transfer";
}
