// The update window in process: captions from the language file, the layout, the start-up timer
// and activation, the application-wide message filter, the download events and quiet mode.
// Each test runs in a temporary current directory with boxes answered by the test.

#include "Application.h"
#include "FaultServer.h"
#include "net/HTTPGet.h"
#include "IVButton.h"
#include "IVTileImage.h"
#include "MessageBox.h"
#include "Picture.h"
#include "ui/QuietMode.h"
#include "TImage.h"
#include "TempDir.h"
#include "ui/BrowserArea.h"
#include "ui/Unit1.h"
#include "run/UpdateRun.h"

#include <gtest/gtest.h>

#include <QApplicationStateChangeEvent>
#include <QDir>
#include <QElapsedTimer>
#include <QFrame>
#include <QKeyEvent>
#include <QLabel>
#include <QMouseEvent>
#include <QProgressBar>
#include <QTest>
#include <QTimer>
#include <QWebEnginePage>
#include <QWebEngineView>

#include <functional>
#include <limits>

#ifdef __SANITIZE_ADDRESS__
// Sanitizer builds only: Chromium inside Qt WebEngine (not built with the sanitizers) frees some
// of its own objects through a base of another size. That mismatch is not ours and would stop
// every run; all other checks stay on.
extern "C" const char* __asan_default_options() { return "new_delete_type_mismatch=0"; }
#endif

namespace {

bool waitFor(const std::function<bool()>& condition, int timeoutMs = 5000)
{
    QElapsedTimer clock;
    clock.start();
    while (!condition()) {
        if (clock.elapsed() > timeoutMs)
            return false;
        QTest::qWait(10);
    }
    return true;
}

QByteArray languageFile(const QString& site, const QString& index, const QByteArray& extra = {})
{
    return "English texts\r\n"
           "#updatetitle Ironvale 3D Update\r\n"
           "#Update Update\r\n"
           "#status1 Ready.\r\n"
           "#panel Updating quietly\r\n"
           "#UpdateSite " + site.toLatin1() + "\r\n"
           "#UpdateIndex " + index.toLatin1() + "\r\n"
           "#STatus2 Downloading\r\n"
           "#STatus3 List received.\r\n"
           "#Error Download failed\r\n"
           "#Done Finished\r\n" + extra;
}

// The engine's view inside the browser area, once a page has been shown there.
QWebEngineView* engineView(BrowserArea* area) { return area->findChild<QWebEngineView*>(); }

// The page's text, read through the page's own script engine.
QString pageText(BrowserArea* area)
{
    QWebEngineView* browser = engineView(area);
    if (!browser)
        return {};
    QString text;
    bool done = false;
    browser->page()->runJavaScript(QStringLiteral("document.body ? document.body.innerText : ''"),
                                   [&](const QVariant& v) {
                                       text = v.toString();
                                       done = true;
                                   });
    waitFor([&] { return done; });
    return text.trimmed();
}

int requestsFor(const FaultServer& server, const QByteArray& path)
{
    int n = 0;
    for (const QByteArray& request : server.requests())
        n += request.startsWith("GET " + path + " ") ? 1 : 0;
    return n;
}

// Counts the events of one type that reach an object (after the application-wide filters).
class Recorder : public QObject {
public:
    explicit Recorder(QObject* target) : target_(target) { target->installEventFilter(this); }
    ~Recorder() override
    {
        if (target_)
            target_->removeEventFilter(this);
    }
    int count(QEvent::Type type) const { return counts_.value(type); }

protected:
    bool eventFilter(QObject*, QEvent* e) override
    {
        counts_[e->type()]++;
        return false;
    }

private:
    QPointer<QObject> target_;
    QHash<QEvent::Type, int> counts_;
};

class UpdateDlgTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        QuietMode = false;
        previousDir_ = QDir::currentPath();
        ASSERT_TRUE(QDir::setCurrent(dir_.path()));
        setMessageBoxHandler([this](const BoxRequest& box) {
            boxes_ << box;
            return 0;
        });
    }
    void TearDown() override
    {
        dlg_.reset();
        QTest::qWait(20);  // let pending quit requests and deferred deletes run
        setMessageBoxHandler(nullptr);
        QDir::setCurrent(previousDir_);
        QuietMode = false;
    }
    TUpdateDlg& open()
    {
        dlg_ = std::make_unique<TUpdateDlg>(nullptr, dir_.path() + QDir::separator());
        dlg_->show();
        EXPECT_TRUE(QTest::qWaitForWindowExposed(dlg_.get()));
        return *dlg_;
    }
    // The widget inside the browser that receives the page's input.
    QWidget* pageWidget() const
    {
        QWebEngineView* view = engineView(dlg_->browser);
        QWidget* inner = view ? view->focusProxy() : nullptr;
        if (!inner && view) {
            const auto children = view->findChildren<QWidget*>();
            inner = children.isEmpty() ? nullptr : children.first();
        }
        return inner;
    }

    TempDir dir_;
    QList<BoxRequest> boxes_;
    std::unique_ptr<TUpdateDlg> dlg_;
    QString previousDir_;
};

TEST_F(UpdateDlgTest, MissingLanguageFileShowsAbortBoxAndAsksToEnd)
{
    TUpdateDlg& dlg = open();
    ASSERT_EQ(boxes_.size(), 1);
    EXPECT_EQ(boxes_[0].caption, "Error");
    EXPECT_EQ(boxes_[0].text, "Translation file error!");
    EXPECT_EQ(boxes_[0].icon, BoxIcon::Error);
    EXPECT_EQ(boxes_[0].buttons, QStringList{"&Abort"});
    EXPECT_TRUE(TApplication::Terminated());
    EXPECT_EQ(dlg.windowTitle(), "[error]");
    EXPECT_EQ(dlg.IVButton1->caption(), "[error]");
    EXPECT_EQ(dlg.Label1->text(), "[error]");
}

TEST_F(UpdateDlgTest, CaptionsComeFromTheLanguageFile)
{
    dir_.write("renewel.lng", languageFile("http://127.0.0.1:1/", "about:blank"));
    TUpdateDlg& dlg = open();
    EXPECT_TRUE(boxes_.isEmpty());

    const struct {
        QByteArray file;
        QString title, button, status;
    } cases[] = {
        {"#updatetitle Ironvale 3D Update\n#Update Update\n#status1 Ready.\n", "Ironvale 3D Update", "Update",
         "Ready."},
        {"#UPDATETITLE T\n#status1 S\n", "T", "[error]", "S"},
        {"#updatetitle Aktualisierung l\xe4uft\n#Update Los\n#status1 Bereit\n", "Aktualisierung läuft", "Los",
         "Bereit"},
        {"#updatetitle \xc3\xa9t\xc3\xa9\n#Update \n#status1 x\n", "été", "", "x"},
    };
    for (const auto& c : cases) {
        dir_.write("renewel.lng", c.file);
        dlg.FormCreate(&dlg);
        EXPECT_EQ(dlg.windowTitle(), c.title);
        EXPECT_EQ(dlg.IVButton1->caption(), c.button);
        EXPECT_EQ(dlg.Label1->text(), c.status);
        // The status label sizes itself to its text.
        EXPECT_EQ(dlg.Label1->width(), dlg.Label1->sizeHint().width()) << c.status.toStdString();
    }
    EXPECT_TRUE(boxes_.isEmpty());
}

TEST_F(UpdateDlgTest, WindowShowsItsPicturesInPlace)
{
    dir_.write("renewel.lng", languageFile("http://127.0.0.1:1/", "about:blank"));
    TUpdateDlg& dlg = open();
    EXPECT_EQ(dlg.size(), QSize(482, 513));
    EXPECT_EQ(dlg.minimumSize(), dlg.maximumSize());
    EXPECT_EQ(dlg.windowTitle(), "Ironvale 3D Update");

    // Pixels: the banner inside its bevel, the background tile left of the browser, the strip
    // at the bottom.
    const QImage shot = dlg.grab().toImage().convertToFormat(QImage::Format_RGB32);
    const QImage bannerPic = TPicture::fromJpegFile(":/assets/banner.jpg").graphic()->image();
    const QImage tile = TPicture::fromJpegFile(":/assets/background.jpg").graphic()->image();
    const QImage strip = TPicture::fromJpegFile(":/assets/strip.jpg").graphic()->image();
    EXPECT_EQ(shot.pixel(8 + 20, 8 + 20), bannerPic.pixel(20, 20));
    EXPECT_EQ(shot.pixel(3, 100), tile.pixel(3, 100));
    EXPECT_EQ(shot.pixel(300, 395), strip.pixel(300 - 255, 2));
    // The lowered bevel: its top edge is darker than its bottom edge.
    EXPECT_LT(qGray(shot.pixel(100, 8)), qGray(shot.pixel(100, 67)));
    if (const QByteArray out = qgetenv("IV_SHOT_DIR"); !out.isEmpty())
        shot.save(QString::fromLocal8Bit(out) + "/updatedlg_waiting.png");
}

TEST_F(UpdateDlgTest, FirstTickOpensNewsAndShowsButtonActivationRestartsIt)
{
    FaultServer server;
    server.setBody("/index.html", "<html><body><h1>News</h1></body></html>");
    dir_.write("renewel.lng", languageFile(server.url("/"), server.url("/index.html")));
    TUpdateDlg& dlg = open();
    // The first tick may already have come inside FormCreate's page wait; the activation on
    // show then starts the timer again. Either way a tick leaves the timer stopped.
    ASSERT_TRUE(waitFor([&] { return dlg.IVButton1->isVisible() && !dlg.Timer1->isActive(); }, 3000));
    ASSERT_TRUE(engineView(dlg.browser));
    EXPECT_EQ(engineView(dlg.browser)->url(), QUrl(server.url("/index.html")));
    // The browser's network work needs the main thread: wait with events flowing. A first tick
    // inside FormCreate's page wait and the one after the activation on show each open the page,
    // so it is asked for once or twice; count from when no more requests arrive.
    EXPECT_TRUE(waitFor([&] { return pageText(dlg.browser) == "News"; }));
    int opened = -1;
    EXPECT_TRUE(waitFor([&] {
        const int now = requestsFor(server, "/index.html");
        const bool settled = now == opened;
        opened = now;
        if (!settled)
            QTest::qWait(1000);
        return settled;
    }, 10000));
    EXPECT_TRUE(opened == 1 || opened == 2) << opened;
    if (const QByteArray out = qgetenv("IV_SHOT_DIR"); !out.isEmpty())
        dlg.grab().save(QString::fromLocal8Bit(out) + "/updatedlg_news.png");

    // Back from another program: no restart.
    QApplicationStateChangeEvent inactive(Qt::ApplicationInactive);
    QCoreApplication::sendEvent(qApp, &inactive);
    QEvent activate(QEvent::WindowActivate);
    QApplication::sendEvent(&dlg, &activate);
    EXPECT_FALSE(dlg.Timer1->isActive());

    // Back from another window of the program (a real one, shown and closed): restart.
    QWidget box;
    box.resize(100, 50);
    box.show();
    box.activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&box));
    box.close();
    dlg.activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&dlg));
    EXPECT_TRUE(dlg.Timer1->isActive());
    EXPECT_TRUE(waitFor([&] { return !dlg.Timer1->isActive(); }, 2000));
    EXPECT_TRUE(waitFor([&] { return requestsFor(server, "/index.html") == opened + 1; }));  // opened again
    EXPECT_TRUE(boxes_.isEmpty());
}

TEST_F(UpdateDlgTest, FilterSwallowsPageRightClicksAndCtrlN)
{
    FaultServer server;
    server.setBody("/index.html", "<html><body>News</body></html>");
    server.stall("/slow", 0);
    server.setBody("/slow", QByteArray(1000, 'x'));
    dir_.write("renewel.lng", languageFile(server.url("/"), server.url("/index.html")));
    TUpdateDlg& dlg = open();
    QWidget* page = pageWidget();
    ASSERT_NE(page, nullptr);
    ASSERT_NE(page, dlg.browser);
    QWidget other;

    enum Kind { RightPress, RightDouble, RightRelease, LeftPress, CtrlN, PlainN, CtrlM };
    const auto send = [](QWidget* target, Kind kind) {
        const QPointF at(5, 5);
        const QPointF global = target->mapToGlobal(at);
        switch (kind) {
        case RightPress:
        case RightDouble:
        case RightRelease:
        case LeftPress: {
            const QEvent::Type type = kind == RightDouble    ? QEvent::MouseButtonDblClick
                                      : kind == RightRelease ? QEvent::MouseButtonRelease
                                                             : QEvent::MouseButtonPress;
            const Qt::MouseButton button = kind == LeftPress ? Qt::LeftButton : Qt::RightButton;
            const Qt::MouseButtons held = type == QEvent::MouseButtonRelease ? Qt::NoButton : Qt::MouseButtons(button);
            QMouseEvent e(type, at, global, button, held, Qt::NoModifier);
            QApplication::sendEvent(target, &e);
            return type;
        }
        case CtrlN:
        case PlainN:
        case CtrlM: {
            QKeyEvent e(QEvent::KeyPress, kind == CtrlM ? Qt::Key_M : Qt::Key_N,
                        kind == PlainN ? Qt::NoModifier : Qt::ControlModifier);
            QApplication::sendEvent(target, &e);
            return QEvent::KeyPress;
        }
        }
        return QEvent::None;
    };
    const struct {
        const char* name;
        QWidget* target;
        Kind kind;
        bool delivered;
    } cases[] = {
        {"right press on the page", page, RightPress, false},
        {"right double click on the page", page, RightDouble, false},
        {"right release on the page", page, RightRelease, true},
        {"left press on the page", page, LeftPress, true},
        {"right press on the browser itself", dlg.browser, RightPress, true},
        {"right press on the banner", dlg.banner, RightPress, true},
        {"right press on a band", dlg.IVTileImage3, RightPress, true},
        {"Ctrl+N on the page", page, CtrlN, false},
        {"Ctrl+N on the window", &dlg, CtrlN, false},
        {"Ctrl+N on another window", &other, CtrlN, false},
        {"N on the window", &dlg, PlainN, true},
        {"Ctrl+M on the window", &dlg, CtrlM, true},
    };
    for (const auto& c : cases) {
        // The page's widget is made anew when the browser's render process is (under load it
        // may be): look it up again rather than hold on to the first one.
        QWidget* target = c.target == page ? pageWidget() : c.target;
        ASSERT_NE(target, nullptr) << c.name;
        Recorder seen(target);
        const QEvent::Type type = send(target, c.kind);
        EXPECT_EQ(seen.count(type), c.delivered ? 1 : 0) << c.name;
    }

    // During a download's wait nothing is filtered.
    THTTPGet& get = dlg.GetFile();
    get.URL = server.url("/slow");
    get.FileName = dir_.filePath("slow");
    get.OnError = nullptr;
    bool checked = false;
    QTimer::singleShot(300, [&] {
        EXPECT_TRUE(get.Running());
        QWidget* pageNow = pageWidget();
        if (!pageNow) {
            ADD_FAILURE() << "no page widget";
            get.Abort();
            return;
        }
        Recorder onPage(pageNow);
        Recorder onWindow(&dlg);
        send(pageNow, RightPress);
        send(&dlg, CtrlN);
        EXPECT_EQ(onPage.count(QEvent::MouseButtonPress), 1);
        EXPECT_EQ(onWindow.count(QEvent::KeyPress), 1);
        checked = true;
        get.Abort();
    });
    get.Fetch();
    EXPECT_TRUE(checked);
    EXPECT_FALSE(get.Succeeded());
}

TEST_F(UpdateDlgTest, LongStatusIsShortenedWithinTheWindow)
{
    dir_.write("renewel.lng", languageFile("http://127.0.0.1:1/", "about:blank"));
    TUpdateDlg& dlg = open();
    const QByteArray path = "\\maps" + QByteArray(4000, 'x') + "\\end.ivm";
    dlg.SetStatus("Downloading " + path + " ... [0\\1]");
    const QString shown = dlg.Label1->text();
    EXPECT_TRUE(shown.startsWith("Downloading \\maps")) << shown.toStdString();
    EXPECT_TRUE(shown.endsWith("end.ivm ... [0\\1]")) << shown.toStdString();
    EXPECT_LT(shown.size(), 200);
    EXPECT_LE(dlg.Label1->geometry().right(), dlg.width());
}

TEST_F(UpdateDlgTest, DownloadEventsMoveProgressAndReportErrors)
{
    FaultServer server;
    const QByteArray body(300'000, 'b');
    server.setBody("/file.bin", body);
    dir_.write("renewel.lng", languageFile(server.url("/"), "about:blank"));
    TUpdateDlg& dlg = open();

    dlg.GetFileProgress(nullptr, 6'000'000'000LL, 1'500'000'000LL);
    EXPECT_NEAR(double(dlg.ProgressBar1->value()) / dlg.ProgressBar1->maximum(), 0.25, 1e-6);
    EXPECT_EQ(dlg.ProgressBar1->minimum(), 0);

    THTTPGet& get = dlg.GetFile();
    EXPECT_EQ(get.AcceptTypes, "*/*");
    EXPECT_EQ(get.Agent, "Quillnet HTTPGet");
    EXPECT_TRUE(get.BinaryData && get.WaitThread && !get.UseCache);
    get.URL = server.url("/file.bin");
    get.FileName = dir_.filePath("file.bin");
    get.Fetch();
    EXPECT_TRUE(get.Succeeded());
    EXPECT_EQ(dlg.ProgressBar1->maximum(), body.size());
    EXPECT_EQ(dlg.ProgressBar1->value(), body.size());
    EXPECT_TRUE(boxes_.isEmpty());

    // A failed download by itself shows nothing: the update run judges and reports failures.
    get.URL = FaultServer::refusedUrl();
    get.Fetch();
    EXPECT_FALSE(get.Succeeded());
    EXPECT_EQ(get.LastError(), "connection refused");
    EXPECT_TRUE(boxes_.isEmpty());
}

TEST_F(UpdateDlgTest, UpdateButtonRunsTheUpdateAndErrorsReachTheReport)
{
    FaultServer server;
    server.setBody("/update.txt", "list\r\n\\maps\\a.ivm\r\nten\r\n");
    dir_.write("renewel.lng", languageFile(server.url("/"), "about:blank"));
    TUpdateDlg& dlg = open();
    ASSERT_TRUE(waitFor([&] { return dlg.IVButton1->isVisible(); }, 3000));

    // A size line that is no number: the general error report; the window stays.
    QTest::mouseClick(dlg.IVButton1, Qt::LeftButton, {}, QPoint(40, 15));
    ASSERT_TRUE(waitFor([&] { return !boxes_.isEmpty(); }));
    EXPECT_EQ(boxes_[0].icon, BoxIcon::Stop);
    EXPECT_EQ(boxes_[0].caption, TApplication::title());
    EXPECT_EQ(boxes_[0].text, "'ten' is not a valid integer value.");
    EXPECT_TRUE(dlg.isVisible());

    const QString why = dlg.Label1->text();
    EXPECT_TRUE(why.endsWith(": 'ten' is not a valid integer value")) << why.toStdString();

    // A good list: the file is installed, "Done" shown. Fetched or already in place, the window
    // shows the end under the box: the "Done" text and both bars full.
    server.setBody("/maps/a.ivm", "hello");
    server.setBody("/maps/b.ivm", QByteArray(70000, 'b'));
    const struct {
        const char* name;
        QByteArray list;
    } cases[] = {
        {"one file fetched", "list\r\n\\maps\\a.ivm\r\n5\r\n"},
        {"already up to date", "list\r\n\\maps\\a.ivm\r\n5\r\n"},
        {"a second file fetched", "list\r\n\\maps\\a.ivm\r\n5\r\n\\maps\\b.ivm\r\n70000\r\n"},
        {"an empty list", "list\r\n"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        server.setBody("/update.txt", c.list);
        boxes_.clear();
        QTest::mouseClick(dlg.IVButton1, Qt::LeftButton, {}, QPoint(40, 15));
        ASSERT_TRUE(waitFor([&] { return !boxes_.isEmpty(); }));
        EXPECT_EQ(boxes_[0].text, "Finished");
        EXPECT_EQ(dir_.read("maps/a.ivm"), "hello");
        EXPECT_FALSE(dir_.exists("temp"));
        EXPECT_EQ(dlg.Label1->text(), "Finished");
        for (const QProgressBar* bar : {dlg.ProgressBar1, dlg.ProgressBar2}) {
            EXPECT_GT(bar->maximum(), 0);
            EXPECT_EQ(bar->value(), bar->maximum());
        }
        EXPECT_TRUE(TApplication::Terminated());
    }
    if (const QByteArray out = qgetenv("IV_SHOT_DIR"); !out.isEmpty())
        dlg.grab().save(QString::fromLocal8Bit(out) + "/updatedlg_done.png");
}

// A failed run says in the status line and the box what failed and why, in the failure line's
// words, with passwords masked and control characters escaped; never "List received.".
TEST_F(UpdateDlgTest, AFailedRunSaysWhyInTheStatusAndTheBox)
{
    FaultServer server;
    server.setBody("/update.txt", "list\r\n\\..\\a\x1b[2J\x07\r\n5\r\n");
    const QString refused = FaultServer::refusedUrl("/");
    const QString withPassword = QString(refused).insert(7, "player:secret@");  // after "http://"
    const struct {
        const char* name;
        QString site;
        QString status;  // how it starts
    } cases[] = {
        {"unreachable site", refused, refused + "update.txt: connection refused"},
        {"password in the address", withPassword,
         QString(refused).insert(7, "***@") + "update.txt: connection refused"},
        {"unsafe path with control characters", server.url("/"), "\\..\\a\\x1b[2J\\x07: "},
    };
    dir_.write("renewel.lng", languageFile(refused, "about:blank"));
    TUpdateDlg& dlg = open();
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        dir_.write("renewel.lng", languageFile(c.site, "about:blank"));
        dlg.FormCreate(&dlg);
        boxes_.clear();
        dlg.IVButton1Click();
        ASSERT_TRUE(waitFor([&] { return !boxes_.isEmpty(); }));
        const QString status = dlg.Label1->text();
        EXPECT_TRUE(status.startsWith(c.status)) << status.toStdString();
        EXPECT_EQ(boxes_[0].text, "Download failed\n\n" + status);
        EXPECT_FALSE(status.contains("secret") || status.contains(QChar(0x1b))) << status.toStdString();
        EXPECT_EQ(dlg.ExitStatus(), 1);
    }
    if (const QByteArray out = qgetenv("IV_SHOT_DIR"); !out.isEmpty())
        dlg.grab().save(QString::fromLocal8Bit(out) + "/updatedlg_failed.png");
}

// Offline, the news area shows the program's own page, not the engine's error page.
TEST_F(UpdateDlgTest, NewsThatCannotBeLoadedShowsTheProgramsOwnPage)
{
    dir_.write("renewel.lng", languageFile(FaultServer::refusedUrl("/"), FaultServer::refusedUrl("/index.html")));
    TUpdateDlg& dlg = open();
    ASSERT_TRUE(waitFor([&] { return dlg.IVButton1->isVisible(); }, 3000));
    QString text;
    EXPECT_TRUE(waitFor([&] { return (text = pageText(dlg.browser)).startsWith("News unavailable"); }, 10000))
        << text.toStdString();
    EXPECT_TRUE(text.contains("You can still update the game")) << text.toStdString();
    EXPECT_FALSE(text.contains("Reload")) << text.toStdString();
    if (const QByteArray out = qgetenv("IV_SHOT_DIR"); !out.isEmpty()) {
        QTest::qWait(500);  // the page is drawn a moment after its text is in place
        dlg.grab().save(QString::fromLocal8Bit(out) + "/updatedlg_offline.png");
    }
}

TEST_F(UpdateDlgTest, QuietModeShowsPanelAndNeverStartsASecondRun)
{
    FaultServer server;
    server.setBody("/update.txt", "list\r\n");
    server.stall("/update.txt", 2);
    dir_.write("renewel.lng", languageFile(server.url("/"), server.url("/index.html")));
    QuietMode = true;

    // The first tick (as soon as the window is up) starts the run, which hangs in the stalled
    // list download. Meanwhile the window is activated again from another window and the timer
    // ticks again.
    bool checked = false;
    QTimer::singleShot(1000, [&] {
        TUpdateDlg& dlg = *UpdateDlg;
        EXPECT_EQ(dlg.browser->shownText(), "Updating quietly");
        EXPECT_FALSE(dlg.browser->engineLoaded()) << "a quiet run starts no browser engine";
        if (const QByteArray out = qgetenv("IV_SHOT_DIR"); !out.isEmpty())
            dlg.grab().save(QString::fromLocal8Bit(out) + "/updatedlg_quiet.png");
        EXPECT_TRUE(dlg.Run()->running());
        QWidget box;
        QEvent activate(QEvent::WindowActivate);
        QApplication::sendEvent(&box, &activate);
        QApplication::sendEvent(&dlg, &activate);
        EXPECT_TRUE(dlg.Timer1->isActive());
        QTest::qWait(700);
        EXPECT_FALSE(dlg.Timer1->isActive());
        EXPECT_EQ(requestsFor(server, "/update.txt"), 1);
        checked = true;
        dlg.GetFile().Abort();
    });
    TUpdateDlg& dlg = open();
    ASSERT_TRUE(waitFor([&] { return checked && !dlg.Run()->running(); }, 8000));
    EXPECT_EQ(requestsFor(server, "/update.txt"), 1);
    EXPECT_FALSE(dlg.IVButton1->isVisible());
    EXPECT_TRUE(boxes_.isEmpty());
    EXPECT_TRUE(TApplication::Terminated());

    // Even after the run has stopped, a later activation starts no further run.
    QEvent activate(QEvent::WindowActivate);
    QApplication::sendEvent(&dlg, &activate);
    QTest::qWait(700);
    EXPECT_EQ(requestsFor(server, "/update.txt"), 1);
    EXPECT_FALSE(dlg.IVButton1->isVisible());
}

}  // namespace

namespace {

TEST_F(UpdateDlgTest, ClosingTheWindowCancelsTheRun)
{
    FaultServer server;
    server.setBody("/update.txt", "list\r\n\\a.bin\r\n100000\r\n\\b.bin\r\n5\r\n");
    server.setBody("/a.bin", QByteArray(100000, 'a'));
    server.stall("/a.bin", 40000);
    server.setBody("/b.bin", "bbbbb");
    dir_.write("renewel.lng", languageFile(server.url("/"), "about:blank", "#UpdateConnections 1\r\n"));
    TUpdateDlg& dlg = open();
    ASSERT_TRUE(waitFor([&] { return dlg.IVButton1->isVisible(); }, 3000));

    // Closed while the first file hangs half-way: aborted at once, nothing installed, no box.
    QTimer::singleShot(500, &dlg, [&] { dlg.close(); });
    QElapsedTimer clock;
    clock.start();
    QTest::mouseClick(dlg.IVButton1, Qt::LeftButton, {}, QPoint(40, 15));
    ASSERT_TRUE(waitFor([&] { return !dlg.Run()->running(); }, 5000));
    EXPECT_LT(clock.elapsed(), 3000);
    EXPECT_EQ(dlg.Run()->outcome().kind, UpdateOutcome::Cancelled);
    EXPECT_EQ(dlg.ExitStatus(), 2);
    EXPECT_TRUE(boxes_.isEmpty());
    EXPECT_FALSE(dir_.exists("a.bin"));
    EXPECT_FALSE(dir_.exists("b.bin"));
    EXPECT_EQ(QDir(dir_.filePath("temp")).entryList({"a.bin.*.part"}).size(), 1);  // kept to continue
}

}  // namespace
