// The tiled picture control: tile positions, the frame, the empty picture, copy semantics and
// when changes reach the screen.

#include "ControlsTestSupport.h"
#include "IVTileImage.h"

#include <gtest/gtest.h>

#include <QTest>

namespace {

const QPoint kOrigin(7, 5);  // where the control sits on the host

}  // namespace

TEST(TileImage, DefaultsTo105SquareWithoutBorderOrPicture)
{
    TIVTileImage tile;
    EXPECT_EQ(tile.size(), QSize(105, 105));
    EXPECT_FALSE(tile.border());
    EXPECT_TRUE(tile.graphic().isEmpty());
    EXPECT_FALSE(tile.autoFillBackground());
}

TEST(TileImage, TilesFromTheTopLeftCornerAndClipsAtTheEdges)
{
    struct Case {
        QSize control, picture;
    };
    const Case cases[] = {
        {{344, 180}, {256, 263}},  // two tiles, at (0,0) and (256,0)
        {{160, 160}, {255, 21}},   // one column of eight, the last cut at row 160
        {{256, 100}, {256, 50}},   // exact multiples: the extra column and row change nothing
        {{50, 40}, {128, 128}},    // one tile, clipped both ways
        {{37, 23}, {5, 7}},
    };
    for (const Case& c : cases) {
        Host host;
        TIVTileImage tile(&host);
        tile.setGeometry(QRect(kOrigin, c.control));
        tile.setGraphic(codedPicture(c.picture.width(), c.picture.height()));
        const QImage image = host.image();
        int wrong = 0;
        for (int y = 0; y < c.control.height(); ++y)
            for (int x = 0; x < c.control.width(); ++x)
                if (image.pixel(kOrigin.x() + x, kOrigin.y() + y)
                    != coded(x % c.picture.width(), y % c.picture.height()))
                    ++wrong;
        EXPECT_EQ(wrong, 0) << c.control.width() << "x" << c.control.height() << " with "
                            << c.picture.width() << "x" << c.picture.height();
        // Nothing outside the control's rectangle.
        EXPECT_EQ(image.pixel(kOrigin.x() + c.control.width(), kOrigin.y()), kHostBackground.rgb());
        EXPECT_EQ(image.pixel(kOrigin.x(), kOrigin.y() + c.control.height()), kHostBackground.rgb());
        EXPECT_EQ(image.pixel(kOrigin.x() - 1, kOrigin.y()), kHostBackground.rgb());
    }
}

TEST(TileImage, EmptyPictureLeavesTheParentBackground)
{
    Host host;
    TIVTileImage tile(&host);
    tile.setGeometry(QRect(kOrigin, QSize(60, 40)));
    const QImage image = host.image();
    EXPECT_TRUE(inkBox(image, image.rect(), kHostBackground.rgb()).isEmpty());
}

TEST(TileImage, BorderIsSilverTopLeftAndBlackBottomRight)
{
    const QRgb silver = qRgb(0xC0, 0xC0, 0xC0);
    const QRgb black = qRgb(0, 0, 0);
    const QRgb green = qRgb(0, 200, 0);
    for (const bool withPicture : {true, false}) {
        Host host;
        TIVTileImage tile(&host);
        const int w = 20;
        const int h = 10;
        tile.setGeometry(QRect(kOrigin, QSize(w, h)));
        if (withPicture)
            tile.setGraphic(solidPicture(8, 8, QColor(green)));
        tile.setBorder(true);
        const QImage image = host.image();
        for (int y = -1; y <= h; ++y)
            for (int x = -1; x <= w; ++x) {
                QRgb expected = withPicture ? green : kHostBackground.rgb();
                if (x < 0 || y < 0 || x >= w || y >= h)
                    expected = kHostBackground.rgb();
                else if (y == 0 || x == 0)
                    expected = silver;  // includes the top-right and bottom-left corners
                else if (x == w - 1 || y == h - 1)
                    expected = black;
                ASSERT_EQ(image.pixel(kOrigin.x() + x, kOrigin.y() + y), expected)
                    << "at " << x << "," << y << (withPicture ? " with picture" : " without picture");
            }
    }
}

TEST(TileImage, KeepsItsOwnCopyOfTheAssignedPicture)
{
    Host host;
    TIVTileImage tile(&host);
    tile.setGeometry(QRect(kOrigin, QSize(30, 30)));
    {
        TPicture picture = solidPicture(10, 10, Qt::red);
        tile.setGraphic(picture);
        static_cast<TBitmap*>(picture.graphic())->pixels().fill(Qt::blue);
        picture.setGraphic(nullptr);
    }  // and the caller's picture is gone
    EXPECT_EQ(tile.graphic().width(), 10);
    EXPECT_EQ(host.image().pixel(kOrigin.x() + 15, kOrigin.y() + 15), qRgb(255, 0, 0));
}

TEST(TileImage, LoadsPicturesByResourceName)
{
    TIVTileImage tile;
    tile.setGraphicResource(QStringLiteral(":/assets/background.jpg"));
    EXPECT_EQ(tile.graphic().width(), 256);
    EXPECT_EQ(tile.graphic().height(), 263);
    EXPECT_EQ(tile.graphicResource(), QStringLiteral(":/assets/background.jpg"));
    tile.setGraphicResource(QString());
    EXPECT_TRUE(tile.graphic().isEmpty());
}

TEST(TileImage, PictureShowsAtTheNextPaintCycleAndBorderOnlyWhenRepainted)
{
    Host host;
    TIVTileImage tile(&host);
    tile.setGeometry(QRect(kOrigin, QSize(40, 40)));
    host.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&host));
    QCoreApplication::processEvents();
    EventLog log(&tile);

    tile.setBorder(true);
    QCoreApplication::processEvents();
    EXPECT_EQ(log.entries.size(), 0) << "the border flag alone schedules no paint";

    tile.setGraphic(solidPicture(4, 4, Qt::red));
    EXPECT_EQ(log.entries.size(), 0) << "the picture setter does not paint at once";
    QTRY_COMPARE(log.entries.size(), 1);
}

TEST(TileImage, ClickNeedsALeftPressAndReleaseInside)
{
    Host host;
    TIVTileImage tile(&host);
    tile.setGeometry(QRect(kOrigin, QSize(40, 40)));
    int clicks = 0;
    int emitted = 0;
    tile.OnClick = [&](QObject* sender) {
        EXPECT_EQ(sender, &tile);
        ++clicks;
    };
    QObject::connect(&tile, &TPaintBox::clicked, [&] { ++emitted; });
    QTest::mouseClick(&tile, Qt::LeftButton, {}, QPoint(5, 5));
    QTest::mouseClick(&tile, Qt::RightButton, {}, QPoint(5, 5));
    QTest::mousePress(&tile, Qt::LeftButton, {}, QPoint(5, 5));
    QTest::mouseRelease(&tile, Qt::LeftButton, {}, QPoint(50, 5));
    EXPECT_EQ(clicks, 1);
    EXPECT_EQ(emitted, 1);
}
