// The canvas rules: exclusive rectangle edges, lines without their end point, text by its
// top-left corner, clear and solid brushes.

#include "Canvas.h"
#include "ControlsTestSupport.h"

#include <gtest/gtest.h>

#include <QPainter>
#include <set>
#include <utility>

namespace {

const QRgb kWhite = qRgb(255, 255, 255);
const QRgb kRed = qRgb(255, 0, 0);

QImage blank(int w = 40, int h = 30)
{
    QImage image(w, h, QImage::Format_RGB32);
    image.fill(kWhite);
    return image;
}

std::set<std::pair<int, int>> pixelsOf(const QImage& image, QRgb colour)
{
    std::set<std::pair<int, int>> result;
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x)
            if (image.pixel(x, y) == colour)
                result.insert({x, y});
    return result;
}

}  // namespace

TEST(Canvas, RectangleOutlineExcludesRightAndBottomCoordinates)
{
    QImage image = blank();
    {
        QPainter painter(&image);
        TCanvas canvas(painter);
        canvas.setPenColor(QColor(kRed));
        canvas.setBrushStyle(TBrushStyle::Clear);
        canvas.rectangle(2, 3, 12, 8);
    }
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x) {
            const bool inside = x >= 2 && x <= 11 && y >= 3 && y <= 7;
            const bool edge = inside && (x == 2 || x == 11 || y == 3 || y == 7);
            ASSERT_EQ(image.pixel(x, y), edge ? kRed : kWhite) << x << "," << y;
        }
}

TEST(Canvas, RectangleWithSolidBrushFillsTheInside)
{
    QImage image = blank();
    {
        QPainter painter(&image);
        TCanvas canvas(painter);
        canvas.setPenColor(QColor(kRed));
        canvas.setBrushColor(QColor(0, 0, 255));
        canvas.rectangle(0, 0, 5, 4);
    }
    EXPECT_EQ(image.pixel(4, 3), kRed);
    EXPECT_EQ(image.pixel(1, 1), qRgb(0, 0, 255));
    EXPECT_EQ(image.pixel(3, 2), qRgb(0, 0, 255));
    EXPECT_EQ(image.pixel(5, 4), kWhite);
}

TEST(Canvas, LineToLeavesOutTheEndPointAndMovesThePen)
{
    struct Case {
        const char* name;
        QPoint from, to;
        std::set<std::pair<int, int>> pixels;
    };
    const Case cases[] = {
        {"right", {1, 2}, {5, 2}, {{1, 2}, {2, 2}, {3, 2}, {4, 2}}},
        {"left", {5, 2}, {1, 2}, {{5, 2}, {4, 2}, {3, 2}, {2, 2}}},
        {"down", {3, 0}, {3, 3}, {{3, 0}, {3, 1}, {3, 2}}},
        {"up", {3, 3}, {3, 0}, {{3, 3}, {3, 2}, {3, 1}}},
        {"diagonal", {0, 0}, {3, 3}, {{0, 0}, {1, 1}, {2, 2}}},
        {"back diagonal", {3, 3}, {0, 0}, {{3, 3}, {2, 2}, {1, 1}}},
        {"same point", {4, 4}, {4, 4}, {}},
    };
    for (const Case& c : cases) {
        QImage image = blank();
        QPoint penAfter;
        {
            QPainter painter(&image);
            TCanvas canvas(painter);
            canvas.setPenColor(QColor(kRed));
            canvas.moveTo(c.from.x(), c.from.y());
            canvas.lineTo(c.to.x(), c.to.y());
            penAfter = canvas.penPos();
        }
        EXPECT_EQ(pixelsOf(image, kRed), c.pixels) << c.name;
        EXPECT_EQ(pixelsOf(image, kWhite).size(), size_t(40 * 30) - c.pixels.size()) << c.name;
        EXPECT_EQ(penAfter, c.to) << c.name;
    }
}

TEST(Canvas, TextOutPlacesTheTopLeftCornerAndMeasuresWithTheFont)
{
    QImage image = blank(120, 40);
    int tw = 0;
    int th = 0;
    {
        QPainter painter(&image);
        TCanvas canvas(painter);
        canvas.setFont(TFont{testFont(), QColor(kRed)});
        canvas.setBrushStyle(TBrushStyle::Clear);
        tw = canvas.textWidth(QStringLiteral("Hg"));
        th = canvas.textHeight(QStringLiteral("Hg"));
        canvas.textOut(10, 5, QStringLiteral("Hg"));
    }
    const QFontMetrics metrics(testFont(), &image);
    EXPECT_EQ(tw, metrics.horizontalAdvance(QStringLiteral("Hg")));
    EXPECT_EQ(th, metrics.height());
    const QRect ink = inkBox(image, image.rect(), kWhite);
    ASSERT_FALSE(ink.isEmpty());
    EXPECT_TRUE(QRect(10, 5, tw, th).contains(ink)) << "ink outside the text cell";
    // The capital H starts at the cell's ascent line minus its cap height.
    EXPECT_EQ(ink.top(), 5 + metrics.ascent() - metrics.tightBoundingRect(QStringLiteral("H")).height());
    // Transparent background, glyphs in the font's colour.
    EXPECT_EQ(pixelsOf(image, kRed).size() + pixelsOf(image, kWhite).size(), size_t(120 * 40));
}

TEST(Canvas, TextOutWithSolidBrushFillsTheTextCell)
{
    QImage image = blank(120, 40);
    int tw = 0;
    int th = 0;
    {
        QPainter painter(&image);
        TCanvas canvas(painter);
        canvas.setFont(TFont{testFont(), QColor(kRed)});
        canvas.setBrushColor(QColor(0, 255, 0));
        tw = canvas.textWidth(QStringLiteral("Hg"));
        th = canvas.textHeight(QStringLiteral("Hg"));
        canvas.textOut(10, 5, QStringLiteral("Hg"));
    }
    EXPECT_EQ(image.pixel(10, 5), qRgb(0, 255, 0));
    EXPECT_EQ(image.pixel(10 + tw - 1, 5 + th - 1), qRgb(0, 255, 0));
    EXPECT_EQ(image.pixel(10 + tw, 5), kWhite);
    EXPECT_EQ(image.pixel(9, 5), kWhite);
}
