// The picture button: its mouse state table, the click order, auto-size, caption placement,
// copy semantics and when changes reach the screen.

#include "ControlsTestSupport.h"
#include "Exception.h"
#include "IVButton.h"
#include "MessageBox.h"

#include <gtest/gtest.h>

#include <QMouseEvent>
#include <QPainter>
#include <QTest>
#include <QWindow>
#include <vector>

namespace {

const QColor kUp(255, 0, 0);
const QColor kDown(0, 0, 255);
const QPoint kAt(20, 30);  // the button's place on the host

// Counts the mouse events that reach the host: the button must keep all of its own.
class MouseEventCounter : public QObject {
public:
    bool eventFilter(QObject*, QEvent* event) override
    {
        const auto t = event->type();
        if (t == QEvent::MouseButtonPress || t == QEvent::MouseButtonRelease
            || t == QEvent::MouseButtonDblClick)
            ++count;
        return false;
    }
    int count = 0;
};

// A shown host with a 161 x 35 button whose up picture is red and down picture blue; every
// paint, click and double click is logged with the picture the button shows at that moment.
struct ButtonFixture {
    Host host;
    TIVButton* button = new TIVButton(&host);
    EventLog log{button, [this] { return button->isPressed() ? QStringLiteral("down") : QStringLiteral("up"); }};
    MouseEventCounter hostMouse;

    ButtonFixture()
    {
        button->setGeometry(QRect(kAt, QSize(161, 35)));
        button->setUpGraphic(solidPicture(161, 35, kUp));
        button->setDownGraphic(solidPicture(161, 35, kDown));
        button->setCaption(QString());
        button->OnClick = [this](QObject* sender) {
            EXPECT_EQ(sender, button);
            log.entries << QStringLiteral("click:") + shown();
        };
        button->OnDblClick = [this](QObject*) { log.entries << QStringLiteral("dblclick:") + shown(); };
        QObject::connect(button, &TPaintBox::clicked, [this] { log.entries << QStringLiteral("clicked()"); });
        QObject::connect(button, &TPaintBox::dblClicked, [this] { log.entries << QStringLiteral("dblClicked()"); });
        host.show();
        EXPECT_TRUE(QTest::qWaitForWindowExposed(&host));
        QCoreApplication::processEvents();
        host.installEventFilter(&hostMouse);
        log.entries.clear();
    }

    // The picture the button draws now: "up", "down" or "?".
    QString shown()
    {
        log.paused = true;
        const QRgb pixel = button->grab().toImage().pixel(3, 3);
        log.paused = false;
        return pixel == kUp.rgb() ? QStringLiteral("up") : pixel == kDown.rgb() ? QStringLiteral("down") : QStringLiteral("?");
    }

    QWindow* window() { return host.windowHandle(); }
};

}  // namespace

TEST(Button, Defaults)
{
    TIVButton button;
    EXPECT_EQ(button.size(), QSize(105, 105));
    EXPECT_EQ(button.caption(), QStringLiteral("IV Button"));
    EXPECT_FALSE(button.isPressed());
    EXPECT_TRUE(button.upGraphic().isEmpty());
    EXPECT_TRUE(button.downGraphic().isEmpty());
    EXPECT_EQ(button.fontColor(), QColor(0, 0, 0));
    EXPECT_FALSE(button.autoFillBackground());
}

TEST(Button, MouseStateTable)
{
    enum Kind { Press, Release, DoubleClick };
    struct Step {
        Kind kind;
        Qt::MouseButton button;
        QPoint at;  // relative to the button
    };
    struct Row {
        const char* name;
        std::vector<Step> steps;
        QStringList log;
    };
    const QPoint in(30, 10);
    const QPoint out(250, 200);
    const std::vector<Row> rows = {
        {"left press and release inside: the click sees the pressed picture",
         {{Press, Qt::LeftButton, in}, {Release, Qt::LeftButton, in}},
         {"paint:down", "click:down", "clicked()", "paint:up"}},
        {"left release outside: no click, released picture back",
         {{Press, Qt::LeftButton, in}, {Release, Qt::LeftButton, out}},
         {"paint:down", "paint:up"}},
        {"right button: pressed picture, no click",
         {{Press, Qt::RightButton, in}, {Release, Qt::RightButton, in}},
         {"paint:down", "paint:up"}},
        {"middle button: pressed picture, no click",
         {{Press, Qt::MiddleButton, in}, {Release, Qt::MiddleButton, in}},
         {"paint:down", "paint:up"}},
        {"double click: one click, one double click, second press shows the pressed picture",
         {{DoubleClick, Qt::LeftButton, in}},
         {"paint:down", "click:down", "clicked()", "paint:up", "dblclick:up", "dblClicked()",
          "paint:down", "paint:up"}},
    };
    for (const Row& row : rows) {
        ButtonFixture f;
        for (const Step& step : row.steps) {
            const QPoint pos = kAt + step.at;
            if (step.kind == Press)
                QTest::mousePress(f.window(), step.button, {}, pos);
            else if (step.kind == Release)
                QTest::mouseRelease(f.window(), step.button, {}, pos);
            else
                QTest::mouseDClick(f.window(), step.button, {}, pos);
            // Every press and release paints at once, before any event processing.
            ASSERT_FALSE(f.log.entries.isEmpty()) << row.name;
            EXPECT_EQ(f.log.entries.last(), f.button->isPressed() ? "paint:down" : "paint:up") << row.name;
            EXPECT_EQ(f.shown(), step.kind == Press ? "down" : "up") << row.name;
        }
        EXPECT_EQ(f.log.entries, row.log) << row.name;
        EXPECT_EQ(f.hostMouse.count, 0) << row.name << ": mouse events went on to the parent";
    }
}

TEST(Button, DirectQtEventsGiveTheSameClicks)
{
    // Qt's own double-click sequence as a widget sees it: press, release, press, double click,
    // release. The release after the double click raises no second click.
    ButtonFixture f;
    const QPoint in(10, 10);
    QTest::mousePress(f.button, Qt::LeftButton, {}, in);
    QTest::mouseRelease(f.button, Qt::LeftButton, {}, in);
    QTest::mousePress(f.button, Qt::LeftButton, {}, in);
    QTest::mouseDClick(f.button, Qt::LeftButton, {}, in);
    QTest::mouseRelease(f.button, Qt::LeftButton, {}, in);
    EXPECT_EQ(f.log.count("click:down"), 1);
    EXPECT_EQ(f.log.count("dblclick:down"), 1);
    EXPECT_EQ(f.log.entries.last(), "paint:up");
    EXPECT_FALSE(f.button->isPressed());
}

TEST(Button, DisabledButtonNeitherChangesNorClicksButLooksTheSame)
{
    ButtonFixture f;
    f.button->setCaption(QStringLiteral("Save"));
    const QImage enabled = f.button->grab().toImage();
    f.button->setEnabled(false);
    EXPECT_EQ(f.button->grab().toImage(), enabled);
    f.log.entries.clear();
    QTest::mouseClick(f.window(), Qt::LeftButton, {}, kAt + QPoint(5, 5));
    QTest::mouseClick(f.window(), Qt::RightButton, {}, kAt + QPoint(5, 5));
    // Disabling schedules an ordinary repaint; the presses add nothing.
    EXPECT_EQ(f.log.count("paint:down"), 0);
    EXPECT_EQ(f.log.entries.filter("click").size(), 0);
    EXPECT_FALSE(f.button->isPressed());
}

TEST(Button, ClickHandlerErrorStillRestoresTheReleasedPicture)
{
    ButtonFixture f;
    QStringList reports;
    setMessageBoxHandler([&](const BoxRequest& request) {
        reports << request.text;
        return 0;
    });
    f.button->OnClick = [&](QObject*) {
        f.log.entries << QStringLiteral("click:") + f.shown();
        throw Exception(QStringLiteral("Cannot create file x"));
    };
    QTest::mouseClick(f.window(), Qt::LeftButton, {}, kAt + QPoint(5, 5));
    setMessageBoxHandler(nullptr);
    EXPECT_EQ(f.log.entries, QStringList({"paint:down", "click:down", "paint:up"}));
    EXPECT_FALSE(f.button->isPressed());
    EXPECT_EQ(reports, QStringList({"Cannot create file x."}));
}

TEST(Button, UpPictureSetsTheSizeOnPaint)
{
    struct Case {
        const char* name;
        TPicture up;
        QSize expected;
    };
    const Case cases[] = {
        {"161 x 35 up picture", solidPicture(161, 35, kUp), QSize(161, 35)},
        {"1 pixel wide up picture", solidPicture(1, 35, kUp), QSize(50, 60)},
        {"empty up picture", TPicture(), QSize(50, 60)},
    };
    for (const Case& c : cases) {
        Host host;
        TIVButton button(&host);
        button.setGeometry(QRect(kAt, QSize(50, 60)));
        button.setUpGraphic(c.up);
        button.setDownGraphic(solidPicture(161, 35, kDown));
        EXPECT_EQ(button.size(), QSize(50, 60)) << c.name << ": resized before any paint";
        host.image();
        EXPECT_EQ(button.size(), c.expected) << c.name;
    }
}

TEST(Button, EmptyUpPictureDrawsOnlyTheCaption)
{
    Host host;
    TIVButton button(&host);
    button.setGeometry(QRect(kAt, QSize(80, 30)));
    button.setFont(testFont());
    const QImage image = host.image();
    const QRect ink = inkBox(image, image.rect(), kHostBackground.rgb());
    ASSERT_FALSE(ink.isEmpty());
    EXPECT_TRUE(QRect(kAt, QSize(80, 30)).contains(ink));
    for (int y = ink.top(); y <= ink.bottom(); ++y)
        for (int x = ink.left(); x <= ink.right(); ++x) {
            const QRgb p = image.pixel(x, y);
            ASSERT_TRUE(p == kHostBackground.rgb() || p == qRgb(0, 0, 0)) << x << "," << y;
        }
}

TEST(Button, CaptionIsCentredAndMovesByTwoWhilePressed)
{
    struct Case {
        int w, h;
        QString caption;
    };
    const Case cases[] = {
        {161, 35, QStringLiteral("Make Thumbnail from map")},
        {91, 34, QStringLiteral("Update")},
        {60, 21, QStringLiteral("Hg")},
        {40, 20, QStringLiteral("A caption much wider than the button")},
    };
    const QColor face(200, 200, 200);
    const QColor ink(128, 0, 0);
    const QFont font = testFont();
    for (const Case& c : cases) {
        Host host;
        TIVButton button(&host);
        button.move(kAt);
        button.setUpGraphic(solidPicture(c.w, c.h, face));
        button.setDownGraphic(solidPicture(c.w, c.h, face));
        button.setFont(TFont{font, ink});
        button.setCaption(c.caption);
        host.image();  // first paint sets the size

        const QFontMetrics metrics(font, &button);
        const int tw = metrics.horizontalAdvance(c.caption);
        const int th = metrics.height();
        if (tw > c.w) {  // an odd overhang tells truncation toward zero from flooring
            EXPECT_NE((c.w - tw) % 2, 0) << "pick a caption with an odd overhang";
        }
        const int x = (c.w - tw) / 2;  // truncates toward zero, also when negative
        const int y = (c.h - th) / 2;
        const QRect area(kAt, QSize(c.w, c.h));

        for (const bool pressed : {false, true}) {
            if (pressed)
                QTest::mousePress(&button, Qt::RightButton, {}, QPoint(1, 1));
            const QImage shot = host.image().copy(area);
            QImage expected(c.w, c.h, QImage::Format_RGB32);
            expected.fill(face);
            {
                QPainter p(&expected);
                p.setFont(font);
                p.setPen(ink);
                const int shift = pressed ? 2 : 0;
                p.drawText(x + shift, y + shift + metrics.ascent(), c.caption);
            }
            EXPECT_EQ(shot, expected) << c.caption.toStdString() << (pressed ? " pressed" : " released");
            const QRect box = inkBox(shot, shot.rect(), face.rgb());
            ASSERT_FALSE(box.isEmpty());
            if (tw > c.w)
                continue;
            EXPECT_TRUE(QRect(x, y, tw, th).translated(pressed ? QPoint(2, 2) : QPoint()).contains(box))
                << c.caption.toStdString();
            // Centred independently of the formula: the ink's middle near the button's middle.
            const int shift = pressed ? 2 : 0;
            EXPECT_LE(std::abs((box.left() + box.right()) / 2 - shift - c.w / 2), 2) << c.caption.toStdString();
        }
        QTest::mouseRelease(&button, Qt::RightButton, {}, QPoint(1, 1));
    }
}

TEST(Button, KeepsItsOwnCopiesOfPicturesAndFont)
{
    TIVButton button;
    TPicture up = solidPicture(20, 10, kUp);
    TFont font{testFont(), QColor(1, 2, 3)};
    button.setUpGraphic(up);
    button.setFont(font);
    static_cast<TBitmap*>(up.graphic())->pixels().fill(kDown);
    up = TPicture();
    font.color = QColor(9, 9, 9);
    font.font.setPixelSize(30);
    EXPECT_EQ(button.upGraphic().width(), 20);
    EXPECT_EQ(button.upGraphic().graphic()->image().pixel(0, 0), kUp.rgb());
    EXPECT_EQ(button.fontColor(), QColor(1, 2, 3));
    EXPECT_EQ(button.font().pixelSize(), 14);
}

TEST(Button, CaptionAndFontPaintAtOncePicturesAtTheNextCycle)
{
    struct Case {
        const char* name;
        std::function<void(TIVButton&)> change;
        bool atOnce;
    };
    const Case cases[] = {
        {"caption", [](TIVButton& b) { b.setCaption(QStringLiteral("Other")); }, true},
        {"font", [](TIVButton& b) { b.setFont(testFont(20)); }, true},
        {"font colour", [](TIVButton& b) { b.setFontColor(Qt::white); }, true},
        {"up picture", [](TIVButton& b) { b.setUpGraphic(solidPicture(161, 35, Qt::green)); }, false},
        {"down picture", [](TIVButton& b) { b.setDownGraphic(solidPicture(161, 35, Qt::green)); }, false},
    };
    for (const Case& c : cases) {
        ButtonFixture f;
        c.change(*f.button);
        EXPECT_EQ(f.log.entries.size(), c.atOnce ? 1 : 0) << c.name;
        QTRY_VERIFY2(!f.log.entries.isEmpty(), c.name);
    }
}

TEST(Button, LoadsPicturesByResourceName)
{
    TIVButton button;
    button.setUpGraphicResource(QStringLiteral(":/assets/update_button_up.jpg"));
    button.setDownGraphicResource(QStringLiteral(":/assets/update_button_down.jpg"));
    EXPECT_EQ(button.upGraphic().width(), 91);
    EXPECT_EQ(button.downGraphic().height(), 34);
    EXPECT_EQ(button.upGraphicResource(), QStringLiteral(":/assets/update_button_up.jpg"));
}
