// The thumbnail renderer: background positions, cell rectangles, nearest-pixel stretching,
// the dimension rules (zero, negative, above the grid) and repeated renders.

#include "Exception.h"
#include "PaintMap.h"
#include "ThumbnailExport.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QTemporaryDir>

#include <functional>
#include <memory>

namespace {

const QRgb kWater = qRgb(0, 0, 255);
const QRgb kWood = qRgb(200, 100, 0);
const QRgb kStone = qRgb(128, 128, 128);

TPicture bitmap(const QImage& image)
{
    TPicture picture;
    picture.setGraphic(std::make_unique<TBitmap>(image));
    return picture;
}

TPicture solid(int w, int h, QRgb colour)
{
    QImage image(w, h, QImage::Format_RGB32);
    image.fill(colour);
    return bitmap(image);
}

// A 128 x 128 background whose pixels all differ, so a misplaced tile shows.
QImage backgroundImage()
{
    QImage image(128, 128, QImage::Format_RGB32);
    for (int y = 0; y < 128; ++y)
        for (int x = 0; x < 128; ++x)
            image.setPixel(x, y, qRgb(x, y, 60));
    return image;
}

struct Fixture {
    TPicture background = bitmap(backgroundImage());
    TPicture water = solid(128, 128, kWater);
    TPicture wood = solid(300, 300, kWood);
    TPicture stone = solid(199, 147, kStone);
    MapTextures textures() const { return {&background, &water, &wood, &stone}; }
};

QRgb backgroundAt(int x, int y)
{
    return qRgb(x % 128, y % 128, 60);
}

std::unique_ptr<MapRecord> makeMap(qint32 w, qint32 h, const std::function<quint8(int, int)>& code)
{
    auto record = std::make_unique<MapRecord>();
    record->setMapWidth(w);
    record->setMapHeight(h);
    for (int x = 1; x <= 100; ++x)
        for (int y = 1; y <= 100; ++y)
            record->setTerrain(x, y, code(x, y));
    return record;
}

QImage render(const MapRecord& record, const Fixture& f, int size = ThumbnailSize)
{
    QImage thumbnail;
    MapRenderer().PaintMap(record, f.textures(), thumbnail, size);
    return thumbnail;
}

// First pixel that differs from the background, as text, or empty.
std::string firstNonBackground(const QImage& image)
{
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x)
            if (image.pixel(x, y) != backgroundAt(x, y))
                return std::to_string(x) + "," + std::to_string(y);
    return {};
}

} // namespace

TEST(Render, BackgroundTilesFromTheFourFixedCorners)
{
    Fixture f;
    const QImage image = render(*makeMap(5, 5, [](int, int) { return 0; }), f);
    ASSERT_EQ(image.size(), QSize(ThumbnailSize, ThumbnailSize));
    EXPECT_EQ(firstNonBackground(image), "");
}

TEST(Render, CellsCoverTheirRectanglesFromTheOrigin)
{
    Fixture f;
    // Other thumbnail sizes follow the same rules with the size in place of 160, over a
    // background tiled across the whole picture.
    const struct {
        qint32 w, h;
        int cw, ch;
        int size = ThumbnailSize;
    } sizes[] = {{1, 1, 160, 160}, {3, 2, 53, 80}, {7, 5, 22, 32}, {7, 100, 22, 1}, {100, 100, 1, 1},
                 {3, 7, 341, 146, 1024}, {7, 5, 2, 3, 16}, {100, 1, 3, 300, 300}, {100, 100, 0, 0, 64}};
    const QRgb colours[] = {kWater, kWood, kStone};
    const quint8 codes[] = {2, 4, 8};
    for (const auto& s : sizes) {
        // Every third cell blank, the others cycle through the three textures.
        auto code = [](int x, int y) { return quint8((x + y) % 3); };
        const QImage image = render(*makeMap(s.w, s.h, [&](int x, int y) {
            const int k = code(x, y);
            return k == 0 ? quint8(0) : codes[k - 1];
        }), f, s.size);
        ASSERT_EQ(image.size(), QSize(s.size, s.size));
        for (int py = 0; py < s.size; ++py)
            for (int px = 0; px < s.size; ++px) {
                const int x = s.cw ? px / s.cw + 1 : s.w + 1;
                const int y = s.ch ? py / s.ch + 1 : s.h + 1;
                QRgb expected = backgroundAt(px, py);
                if (x <= s.w && y <= s.h && code(x, y) != 0)
                    expected = colours[code(x, y) - 1];
                ASSERT_EQ(image.pixel(px, py), expected)
                    << s.w << "x" << s.h << " map, pixel " << px << "," << py;
            }
    }
}

// Filled: cell x covers the columns px with x = ceil((px + 1) * MapWidth / size), likewise down,
// so the cells reach every edge of the square; cells beyond the grid leave the background, and
// the dimension errors are PaintMap's.
TEST(Render, FilledCellsCoverTheWholeSquare)
{
    Fixture f;
    const struct {
        qint32 w, h;
        int size;
    } sizes[] = {{100, 100, 256}, {7, 5, 160}, {3, 7, 1024}, {1, 1, 16}, {100, 1, 300},
                 {100, 100, 64}, {150, 120, 160}, {7, 30, 160}};
    const QRgb colours[] = {kWater, kWood, kStone};
    const quint8 codes[] = {2, 4, 8};
    auto code = [](int x, int y) { return (x + 2 * y) % 4; };  // 0 blank, else a texture
    for (const auto& s : sizes) {
        QImage image;
        MapRenderer().PaintMapFilled(*makeMap(s.w, s.h, [&](int x, int y) {
            const int k = code(x, y);
            return k == 0 ? quint8(0) : codes[k - 1];
        }), f.textures(), image, s.size);
        ASSERT_EQ(image.size(), QSize(s.size, s.size));
        for (int py = 0; py < s.size; ++py)
            for (int px = 0; px < s.size; ++px) {
                const int x = int((qint64(px + 1) * s.w + s.size - 1) / s.size);
                const int y = int((qint64(py + 1) * s.h + s.size - 1) / s.size);
                QRgb expected = backgroundAt(px, py);
                if (x <= 100 && y <= 100 && code(x, y) != 0)
                    expected = colours[code(x, y) - 1];
                ASSERT_EQ(image.pixel(px, py), expected)
                    << s.w << "x" << s.h << " map at " << s.size << ", pixel " << px << "," << py;
            }
    }
    const struct {
        qint32 w, h;
        bool divByZero;
    } odd[] = {{0, 10, true}, {10, 0, true}, {-1, 10, false}, {INT32_MIN, 5, false}};
    for (const auto& c : odd) {
        QImage image;
        bool threw = false;
        try {
            MapRenderer().PaintMapFilled(*makeMap(c.w, c.h, [](int, int) { return 2; }), f.textures(), image);
        } catch (const EDivByZero&) {
            threw = true;
        }
        EXPECT_EQ(threw, c.divByZero) << c.w << "x" << c.h;
        EXPECT_EQ(firstNonBackground(image), "") << c.w << "x" << c.h;
    }
}

TEST(Render, OneByOneMapFillsTheThumbnail)
{
    Fixture f;
    const QImage image = render(*makeMap(1, 1, [](int, int) { return 8; }), f);
    EXPECT_EQ(image.pixel(0, 0), kStone);
    EXPECT_EQ(image.pixel(159, 159), kStone);
}

TEST(Render, TexturesStretchToTheCellWithoutSmoothing)
{
    Fixture f;
    QImage texture(5, 3, QImage::Format_RGB32);
    for (int y = 0; y < 3; ++y)
        for (int x = 0; x < 5; ++x)
            texture.setPixel(x, y, qRgb(40 * x, 80 * y, 255));
    f.water = bitmap(texture);
    // 7 x 5 map: 22 x 32 cells; cell (2, 3) sits at (22, 64).
    const QImage image = render(*makeMap(7, 5, [](int x, int y) { return x == 2 && y == 3 ? 2 : 0; }), f);
    for (int j = 0; j < 32; ++j)
        for (int i = 0; i < 22; ++i)
            ASSERT_EQ(image.pixel(22 + i, 64 + j), texture.pixel(i * 5 / 22, j * 3 / 32)) << i << "," << j;
    EXPECT_EQ(image.pixel(21, 64), backgroundAt(21, 64));
    EXPECT_EQ(image.pixel(44, 64), backgroundAt(44, 64));
}

TEST(Render, DimensionsThatDrawOnlyTheBackground)
{
    Fixture f;
    const struct {
        qint32 w, h;
    } cases[] = {{161, 10}, {10, 161}, {500, 500}, {-1, 10}, {10, -1}, {-7, -7}, {INT32_MIN, 5}};
    for (const auto& c : cases) {
        const QImage image = render(*makeMap(c.w, c.h, [](int, int) { return 2; }), f);
        EXPECT_EQ(firstNonBackground(image), "") << c.w << "x" << c.h;
    }
}

TEST(Render, ZeroDimensionIsDivisionByZeroAfterTheBackground)
{
    Fixture f;
    const struct {
        qint32 w, h;
    } cases[] = {{0, 10}, {10, 0}, {0, 0}, {0, -3}, {-3, 0}};
    for (const auto& c : cases) {
        QImage image(160, 160, QImage::Format_RGB32);
        image.fill(Qt::red);
        MapRenderer renderer;
        try {
            renderer.PaintMap(*makeMap(c.w, c.h, [](int, int) { return 4; }), f.textures(), image);
            ADD_FAILURE() << c.w << "x" << c.h << ": no error";
        } catch (const EDivByZero& e) {
            EXPECT_EQ(e.message(), "Division by zero");
        }
        EXPECT_EQ(firstNonBackground(image), "") << c.w << "x" << c.h;
    }
}

TEST(Render, DimensionsAboveTheGridReadOnlyTheGrid)
{
    Fixture f;
    // 150 wide: cw = 1, only columns 1 ... 100 exist. 120 high: ch = 1.
    const QImage image = render(*makeMap(150, 120, [](int, int) { return 2; }), f);
    EXPECT_EQ(image.pixel(0, 0), kWater);
    EXPECT_EQ(image.pixel(99, 99), kWater);
    EXPECT_EQ(image.pixel(100, 50), backgroundAt(100, 50));
    EXPECT_EQ(image.pixel(50, 100), backgroundAt(50, 100));
    EXPECT_EQ(image.pixel(159, 159), backgroundAt(159, 159));
}

TEST(Render, SecondRenderLeavesNoTraceOfTheFirst)
{
    Fixture f;
    MapRenderer renderer;
    QImage image;
    renderer.PaintMap(*makeMap(4, 4, [](int, int) { return 4; }), f.textures(), image);
    EXPECT_EQ(image.pixel(10, 10), kWood);
    renderer.PaintMap(*makeMap(4, 4, [](int, int) { return 0; }), f.textures(), image);
    EXPECT_EQ(firstNonBackground(image), "");
    // Same renderer, new cell size and a changed texture: nothing stale from its cache.
    f.wood = solid(300, 300, qRgb(1, 2, 3));
    renderer.PaintMap(*makeMap(5, 5, [](int, int) { return 4; }), f.textures(), image);
    EXPECT_EQ(image.pixel(0, 0), qRgb(1, 2, 3));
}

TEST(Render, EmptyPicturesDrawNothingAndOddTargetsAreAdopted)
{
    Fixture f;
    f.water = TPicture();
    QImage image(160, 160, QImage::Format_RGB888);
    image.fill(Qt::red);
    MapRenderer().PaintMap(*makeMap(2, 2, [](int x, int) { return x == 1 ? 2 : 8; }), f.textures(), image);
    EXPECT_EQ(image.format(), QImage::Format_RGB32);
    EXPECT_EQ(image.pixel(10, 10), backgroundAt(10, 10));
    EXPECT_EQ(image.pixel(90, 10), kStone);

    MapTextures none;
    QImage blank;
    MapRenderer().PaintMap(*makeMap(2, 2, [](int, int) { return 2; }), none, blank);
    EXPECT_EQ(blank.size(), QSize(160, 160));
    EXPECT_EQ(blank.pixel(80, 80), qRgb(0, 0, 0));
}

TEST(Render, BundledTexturesDecodeOnceAndDrawTheSampleMaps)
{
    BundledTextures textures;
    EXPECT_EQ(textures.grass.width(), 128);
    EXPECT_EQ(textures.wood.width(), 300);
    EXPECT_EQ(textures.stone.height(), 147);
    auto* grass = dynamic_cast<TJPEGImage*>(textures.grass.graphic());
    ASSERT_NE(grass, nullptr);
    EXPECT_FALSE(grass->isDecoded());

    MapRenderer renderer;
    QImage image;
    renderer.PaintMap(*makeMap(100, 100, [](int x, int y) { return quint8(x < 30 ? 2 : y < 50 ? 4 : 8); }),
                      textures.textures(), image);
    EXPECT_TRUE(grass->isDecoded());
    const qint64 key = grass->image().cacheKey();
    renderer.PaintMap(*makeMap(10, 10, [](int, int) { return 0; }), textures.textures(), image);
    EXPECT_EQ(grass->image().cacheKey(), key);
    EXPECT_EQ(image.pixel(150, 150), grass->image().pixel(150 - 128, 150 - 128));

    // Kept for a look with an image viewer when IV_KEEP_RENDERS names a folder.
    const QString keep = qEnvironmentVariable("IV_KEEP_RENDERS");
    if (!keep.isEmpty())
        image.save(QDir(keep).filePath("render-grass.png"));
}
