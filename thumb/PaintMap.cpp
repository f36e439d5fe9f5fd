#include "PaintMap.h"

#include "Exception.h"

#include <algorithm>
#include <cstring>

namespace {

// Copies source into target with its top-left corner at (x, y), clipped to target. Both images
// hold 32-bit pixels.
void blit(QImage& target, const QImage& source, int x, int y)
{
    const int left = std::max(x, 0);
    const int top = std::max(y, 0);
    const int right = std::min(x + source.width(), target.width());
    const int bottom = std::min(y + source.height(), target.height());
    if (left >= right || top >= bottom)
        return;
    const size_t bytes = size_t(right - left) * 4;
    for (int row = top; row < bottom; ++row)
        std::memcpy(target.scanLine(row) + size_t(left) * 4,
                    source.constScanLine(row - y) + size_t(left - x) * 4, bytes);
}

QImage asRgb32(const QImage& image)
{
    return image.format() == QImage::Format_RGB32 ? image : image.convertToFormat(QImage::Format_RGB32);
}

} // namespace

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
    if (cache_.size() >= 12)
        cache_.erase(cache_.begin(), cache_.begin() + 3);
    cache_.push_back({key, width, height, asRgb32(stretchNearest(source, width, height))});
    return cache_.back().image;
}

void MapRenderer::PaintMap(const MapRecord& record, const MapTextures& textures, QImage& thumbnail)
{
    if (thumbnail.isNull()) {
        thumbnail = QImage(ThumbnailSize, ThumbnailSize, QImage::Format_RGB32);
        thumbnail.fill(Qt::black);
    } else if (thumbnail.format() != QImage::Format_RGB32) {
        thumbnail.convertTo(QImage::Format_RGB32);
    }

    if (textures.background && !textures.background->isEmpty()) {
        const QImage background = asRgb32(textures.background->graphic()->image());
        for (const auto& [x, y] : {std::pair{0, 0}, {128, 0}, {0, 128}, {128, 128}})
            blit(thumbnail, background, x, y);
    }

    const qint32 mapWidth = record.MapWidth();
    const qint32 mapHeight = record.MapHeight();
    if (mapWidth == 0 || mapHeight == 0)
        throw EDivByZero();
    const int cw = ThumbnailSize / mapWidth;
    const int ch = ThumbnailSize / mapHeight;
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
    for (int x = 1; x <= lastX; ++x)
        for (int y = 1; y <= lastY; ++y)
            if (const QImage* texture = byCode[record.Terrain(x, y)])
                blit(thumbnail, *texture, (x - 1) * cw, (y - 1) * ch);
}
