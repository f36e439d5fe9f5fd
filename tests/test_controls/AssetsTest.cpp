// The real window pictures: their sizes, that the textures read as what they are, and both
// controls drawn with them (saved as PNG in the build folder for a person to look at).

#include "ControlsTestSupport.h"
#include "IVButton.h"
#include "IVTileImage.h"

#include <gtest/gtest.h>

#include <QTest>

namespace {

QColor averageColour(const TPicture& picture)
{
    const QImage& image = picture.graphic()->image();
    qint64 r = 0, g = 0, b = 0;
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x) {
            const QRgb p = image.pixel(x, y);
            r += qRed(p);
            g += qGreen(p);
            b += qBlue(p);
        }
    const qint64 n = qint64(image.width()) * image.height();
    return QColor(int(r / n), int(g / n), int(b / n));
}

double brightness(const QImage& image, const QRect& area)
{
    double sum = 0;
    for (int y = area.top(); y <= area.bottom(); ++y)
        for (int x = area.left(); x <= area.right(); ++x)
            sum += qGray(image.pixel(x, y));
    return sum / (area.width() * area.height());
}

}  // namespace

TEST(Assets, PicturesHaveTheirWindowSizes)
{
    const struct {
        const char* name;
        QSize size;
    } pictures[] = {
        {"background", {256, 263}}, {"strip", {255, 21}},          {"thumb_button_up", {161, 35}},
        {"thumb_button_down", {161, 35}}, {"grass", {128, 128}},   {"water", {128, 128}},
        {"wood", {300, 300}},       {"stone", {199, 147}},         {"banner", {468, 60}},
        {"update_button_up", {91, 34}}, {"update_button_down", {91, 34}},
    };
    for (const auto& p : pictures) {
        const TPicture picture = TPicture::fromJpegFile(QStringLiteral(":/assets/%1.jpg").arg(p.name));
        EXPECT_EQ(QSize(picture.width(), picture.height()), p.size) << p.name;
    }
}

TEST(Assets, TexturesAreDistinctInColour)
{
    auto average = [](const char* name) {
        return averageColour(TPicture::fromJpegFile(QStringLiteral(":/assets/%1.jpg").arg(name)));
    };
    const QColor grass = average("grass");
    const QColor water = average("water");
    const QColor wood = average("wood");
    const QColor stone = average("stone");
    EXPECT_GT(grass.green(), grass.red() + 30);
    EXPECT_GT(grass.green(), grass.blue() + 30);
    EXPECT_GT(water.blue(), water.red() + 60);
    EXPECT_GT(water.blue(), water.green() + 30);
    EXPECT_GT(wood.red(), wood.green() + 30);
    EXPECT_GT(wood.green(), wood.blue() + 20);
    EXPECT_LT(std::max({stone.red(), stone.green(), stone.blue()}) - std::min({stone.red(), stone.green(), stone.blue()}), 12);
}

TEST(Assets, ButtonFacesAreBevelledAndInvertedWhenPressed)
{
    for (const char* face : {"thumb_button", "update_button"}) {
        const QImage up = TPicture::fromJpegFile(QStringLiteral(":/assets/%1_up.jpg").arg(face)).graphic()->image();
        const QImage down = TPicture::fromJpegFile(QStringLiteral(":/assets/%1_down.jpg").arg(face)).graphic()->image();
        const int w = up.width();
        const int h = up.height();
        const QRect top(4, 0, w - 8, 2), left(0, 4, 2, h - 8);
        const QRect bottom(4, h - 2, w - 8, 2), right(w - 2, 4, 2, h - 8);
        EXPECT_GT(brightness(up, top), brightness(up, bottom) + 60) << face;
        EXPECT_GT(brightness(up, left), brightness(up, right) + 60) << face;
        EXPECT_LT(brightness(down, top), brightness(down, bottom) - 60) << face;
        EXPECT_LT(brightness(down, left), brightness(down, right) - 60) << face;
    }
}

TEST(Assets, ControlsDrawnWithThePictures)
{
    Host host(420, 230);
    TIVTileImage background(&host);
    background.setGeometry(0, 0, 420, 230);
    background.setGraphicResource(QStringLiteral(":/assets/background.jpg"));
    TIVTileImage frame(&host);
    frame.setGeometry(10, 10, 162, 162);
    frame.setGraphicResource(QStringLiteral(":/assets/strip.jpg"));
    frame.setBorder(true);
    TIVTileImage grass(&host);
    grass.setGeometry(190, 10, 100, 80);
    grass.setGraphicResource(QStringLiteral(":/assets/grass.jpg"));
    grass.setBorder(true);
    TIVTileImage water(&host);
    water.setGeometry(300, 10, 100, 80);
    water.setGraphicResource(QStringLiteral(":/assets/water.jpg"));
    TIVButton save(&host);
    save.move(10, 185);
    save.setUpGraphicResource(QStringLiteral(":/assets/thumb_button_up.jpg"));
    save.setDownGraphicResource(QStringLiteral(":/assets/thumb_button_down.jpg"));
    save.setCaption(QStringLiteral("Save thumbnail"));
    TIVButton update(&host);
    update.move(190, 110);
    update.setUpGraphicResource(QStringLiteral(":/assets/update_button_up.jpg"));
    update.setDownGraphicResource(QStringLiteral(":/assets/update_button_down.jpg"));
    update.setCaption(QStringLiteral("Update"));
    TIVButton pressed(&host);
    pressed.move(300, 110);
    pressed.setUpGraphicResource(QStringLiteral(":/assets/update_button_up.jpg"));
    pressed.setDownGraphicResource(QStringLiteral(":/assets/update_button_down.jpg"));
    pressed.setCaption(QStringLiteral("Pressed"));
    host.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&host));
    QTest::mousePress(&pressed, Qt::LeftButton, {}, QPoint(5, 5));
    QCoreApplication::processEvents();
    const QImage shot = host.image();
    EXPECT_EQ(save.size(), QSize(161, 35));
    EXPECT_EQ(update.size(), QSize(91, 34));
    EXPECT_EQ(shot.pixel(10, 10), qRgb(0xC0, 0xC0, 0xC0));
    EXPECT_EQ(shot.pixel(171, 171), qRgb(0, 0, 0));
    shot.save(QStringLiteral(IV_BINARY_DIR "/controls_with_assets.png"));
    QTest::mouseRelease(&pressed, Qt::LeftButton, {}, QPoint(5, 5));
}
