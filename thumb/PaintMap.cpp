#include "PaintMap.h"

#include "Exception.h"

#include <algorithm>
#include <cstring>

namespace {

// A 32-bit image's pixels, addressed directly: the cell loop runs 10 000 times for a 100 x 100
// map, so it avoids QImage's per-call bookkeeping.
struct Surface {
    uchar* bits;
    qsizetype stride;
    int width;
    int height;
};

// Copies a width x height block of 32-bit pixels from source to (x, y) on target, clipped.
inline void blit(const Surface& target, const uchar* source, qsizetype sourceStride, int width, int height,
                 int x, int y)
{
    const int left = std::max(x, 0);
    const int top = std::max(y, 0);
    const int right = std::min(x + width, target.width);
    const int bottom = std::min(y + height, target.height);
    if (left >= right || top >= bottom)
        return;
    const size_t bytes = size_t(right - left) * 4;
    uchar* to = target.bits + qsizetype(top) * target.stride + qsizetype(left) * 4;
    const uchar* from = source + qsizetype(top - y) * sourceStride + qsizetype(left - x) * 4;
    if (bytes == 4 && bottom - top == 1) {
        std::memcpy(to, from, 4);
        return;
    }
    for (int row = top; row < bottom; ++row, to += target.stride, from += sourceStride)
        std::memcpy(to, from, bytes);
}

inline void blit(const Surface& target, const QImage& source, int x, int y)
{
    blit(target, source.constBits(), source.bytesPerLine(), source.width(), source.height(), x, y);
}

// The part of target from (x, y) on, width x height pixels; drawing into it is clipped to it.
Surface area(const Surface& target, int x, int y, int width, int height)
{
    return {target.bits + qsizetype(y) * target.stride + qsizetype(x) * 4, target.stride, width, height};
}

QImage asRgb32(const QImage& image)
{
    return image.format() == QImage::Format_RGB32 ? image : image.convertToFormat(QImage::Format_RGB32);
}

// A size x size RGB32 picture to draw on: a black new one unless thumbnail already is one.
void prepareThumbnail(QImage& thumbnail, int size)
{
    if (thumbnail.isNull() || thumbnail.width() != size || thumbnail.height() != size) {
        thumbnail = QImage(size, size, QImage::Format_RGB32);
        thumbnail.fill(Qt::black);
    } else if (thumbnail.format() != QImage::Format_RGB32) {
        thumbnail.convertTo(QImage::Format_RGB32);
    }
}

Surface surfaceOf(QImage& image)
{
    return {image.bits(), image.bytesPerLine(), image.width(), image.height()};
}

// The background at its natural size from target's top-left corner on, clipped to target.
void tileBackground(const MapTextures& textures, const Surface& target, int step)
{
    if (!textures.background || textures.background->isEmpty())
        return;
    const QImage background = asRgb32(textures.background->graphic()->image());
    for (int top = 0; top < target.height; top += step)
        for (int left = 0; left < target.width; left += step)
            blit(target, background, left, top);
}

} // namespace

EMapSize::EMapSize(qint32 width, qint32 height)
    : Exception(QStringLiteral("Map size %1 x %2 is not 1 to %3 cells across and down")
                    .arg(width).arg(height).arg(MaxPreviewCells)) {}

QImage MapRenderer::scaledTexture(const TPicture* picture, int width, int height)
{
    if (!picture || picture->isEmpty() || picture->width() <= 0 || picture->height() <= 0)
        return QImage();
    const QImage& source = picture->graphic()->image();
    const qint64 key = source.cacheKey();
    for (const Scaled& entry : cache_)
        if (entry.sourceKey == key && entry.width == width && entry.height == height)
            return entry.image;
    // Cell sizes change with every map of a new size; keep the cache small.
    if (cache_.size() >= 24)
        cache_.erase(cache_.begin(), cache_.begin() + 3);
    cache_.push_back({key, width, height, asRgb32(stretchNearest(source, width, height))});
    return cache_.back().image;
}

void MapRenderer::PaintMap(const MapRecord& record, const MapTextures& textures, QImage& thumbnail, int size)
{
    prepareThumbnail(thumbnail, size);
    const Surface surface = surfaceOf(thumbnail);
    if (textures.background && !textures.background->isEmpty()) {
        // Row by row at multiples of 128, at least (0,0), (128,0), (0,128), (128,128).
        const QImage background = asRgb32(textures.background->graphic()->image());
        const int tiles = std::max(2, (size + BackgroundStep - 1) / BackgroundStep);
        for (int row = 0; row < tiles; ++row)
            for (int column = 0; column < tiles; ++column)
                blit(surface, background, column * BackgroundStep, row * BackgroundStep);
    }

    const qint32 mapWidth = record.MapWidth();
    const qint32 mapHeight = record.MapHeight();
    if (mapWidth == 0 || mapHeight == 0)
        throw EDivByZero();
    const int cw = size / mapWidth;
    const int ch = size / mapHeight;
    if (mapWidth <= 0 || mapHeight <= 0 || cw <= 0 || ch <= 0)
        return;

    const QImage water = scaledTexture(textures.code2, cw, ch);
    const QImage wood = scaledTexture(textures.code4, cw, ch);
    const QImage stone = scaledTexture(textures.code8, cw, ch);
    const QImage* byCode[256] = {};
    byCode[2] = water.isNull() ? nullptr : &water;
    byCode[4] = wood.isNull() ? nullptr : &wood;
    byCode[8] = stone.isNull() ? nullptr : &stone;

    // Only the grid's cells are read, however large the stored dimensions are.
    const int lastX = std::min<qint32>(mapWidth, MapRecord::GridSize - 1);
    const int lastY = std::min<qint32>(mapHeight, MapRecord::GridSize - 1);
    struct Cell {
        const uchar* bits = nullptr;
        qsizetype stride = 0;
    };
    Cell cells[256];
    for (int code = 0; code < 256; ++code)
        if (byCode[code])
            cells[code] = {byCode[code]->constBits(), byCode[code]->bytesPerLine()};
    const quint8* terrain = record.bytes().data();
    for (int x = 1; x <= lastX; ++x)
        for (int y = 1; y <= lastY; ++y) {
            const Cell& cell = cells[terrain[MapRecord::terrainOffset(x, y)]];
            if (cell.bits)
                blit(surface, cell.bits, cell.stride, cw, ch, (x - 1) * cw, (y - 1) * ch);
        }
}

void MapRenderer::paintCells(const MapRecord& record, const MapTextures& textures, QImage& image,
                             const QRect& area, int size, int columns, int rows)
{
    const Surface map = ::area(surfaceOf(image), area.x(), area.y(), area.width(), area.height());
    const TPicture* byCode[256] = {};
    byCode[2] = textures.code2;
    byCode[4] = textures.code4;
    byCode[8] = textures.code8;
    auto column = [&](int k) { return int(qint64(k) * size / columns); };
    auto row = [&](int k) { return int(qint64(k) * size / rows); };
    // Only the grid's cells are read, however large the stored dimensions are.
    const int lastX = std::min(columns, MapRecord::GridSize - 1);
    const int lastY = std::min(rows, MapRecord::GridSize - 1);
    for (int x = 1; x <= lastX; ++x) {
        const int left = column(x - 1);
        const int cw = column(x) - left;
        for (int y = 1; y <= lastY && cw > 0; ++y) {
            const TPicture* texture = byCode[record.Terrain(x, y)];
            const int top = row(y - 1);
            const int ch = row(y) - top;
            if (!texture || ch <= 0)
                continue;
            const QImage cell = scaledTexture(texture, cw, ch);
            if (!cell.isNull())
                blit(map, cell, left, top);
        }
    }
}

void MapRenderer::PaintMapFilled(const MapRecord& record, const MapTextures& textures, QImage& thumbnail, int size)
{
    prepareThumbnail(thumbnail, size);
    tileBackground(textures, surfaceOf(thumbnail), BackgroundStep);
    const qint32 mapWidth = record.MapWidth();
    const qint32 mapHeight = record.MapHeight();
    if (mapWidth == 0 || mapHeight == 0)
        throw EDivByZero();
    if (mapWidth > 0 && mapHeight > 0)
        paintCells(record, textures, thumbnail, thumbnail.rect(), size, mapWidth, mapHeight);
}

QImage MapRenderer::PaintPreview(const MapRecord& record, const MapTextures& textures, int size)
{
    const qint32 mapWidth = record.MapWidth();
    const qint32 mapHeight = record.MapHeight();
    if (mapWidth < 1 || mapWidth > MaxPreviewCells || mapHeight < 1 || mapHeight > MaxPreviewCells)
        throw EMapSize(mapWidth, mapHeight);

    QImage preview(size, size, QImage::Format_ARGB32);
    preview.fill(Qt::transparent);
    const int cells = std::max(mapWidth, mapHeight);
    const int width = int(qint64(mapWidth) * size / cells);
    const int height = int(qint64(mapHeight) * size / cells);
    const QRect map((size - width) / 2, (size - height) / 2, width, height);
    tileBackground(textures, area(surfaceOf(preview), map.x(), map.y(), width, height), BackgroundStep);
    paintCells(record, textures, preview, map, size, cells, cells);
    return preview;
}
