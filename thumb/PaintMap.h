#pragma once
// The thumbnail renderer: a map record drawn as a 160 x 160 picture, terrain textures stretched
// into the map's cells over a grass background. Needs no window.

#include "Exception.h"
#include "MapRecord.h"
#include "Picture.h"

#include <QImage>
#include <QRect>

#include <vector>

// Edge in pixels of the square thumbnail.
constexpr int ThumbnailSize = 160;
// The edges a caller may ask for instead (command line "--size").
constexpr int MinThumbnailSize = 16;
constexpr int MaxThumbnailSize = 1024;

// The largest map a preview draws, in cells across or down (the grid's size).
constexpr int MaxPreviewCells = 100;

// A map whose width or height a preview cannot draw.
class EMapSize : public Exception {
public:
    EMapSize(qint32 width, qint32 height);
};

// The four texture pictures, owned by the caller (the window's hidden picture controls, or the
// command line's own). A null or empty picture draws nothing.
struct MapTextures {
    const TPicture* background = nullptr;
    const TPicture* code2 = nullptr; // water
    const TPicture* code4 = nullptr; // wood
    const TPicture* code8 = nullptr; // stone
};

class MapRenderer {
public:
    // Draws record into thumbnail, a square of size pixels (160 unless asked otherwise). A null
    // thumbnail, or one of another size, becomes a black size x size RGB32 image first; any
    // other is converted to RGB32 in place and drawn over.
    //   1. The background at its natural size at (0,0), (128,0), (0,128) and (128,128), and for
    //      sizes above 256 on at every multiple of 128 across and down, row by row.
    //   2. cw = size div MapWidth, ch = size div MapHeight; a zero dimension throws EDivByZero
    //      with the background already drawn.
    //   3. Cell (x, y), x in 1 ... MapWidth and y in 1 ... MapHeight (both clipped to the grid's
    //      100), covers left = (x - 1) * cw, top = (y - 1) * ch, cw x ch pixels, and gets the
    //      texture of its code (2, 4, 8) stretched without smoothing. Other codes draw nothing.
    // Negative dimensions draw the background only.
    void PaintMap(const MapRecord& record, const MapTextures& textures, QImage& thumbnail,
                  int size = ThumbnailSize);

    // As PaintMap, but the cells fill the whole square whatever the map's size: cell (x, y)
    // covers columns x' (x - 1) ... x' (x) - 1 and rows y' (y - 1) ... y' (y) - 1, with
    // x' (k) = k * size div MapWidth and y' (k) = k * size div MapHeight, so cells differ by at
    // most one pixel. Cells beyond the grid's 100 leave the background; a zero dimension throws
    // EDivByZero after the background and a negative one draws the background only.
    void PaintMapFilled(const MapRecord& record, const MapTextures& textures, QImage& thumbnail,
                        int size = ThumbnailSize);

    // A file manager's preview of record, size x size pixels (ARGB32): the map scaled so that its
    // longer side fills the square, centred, the rest transparent. With n = max(MapWidth,
    // MapHeight) and edge(k) = k * size div n, cell (x, y) covers columns edge(x - 1) ...
    // edge(x) - 1 and rows edge(y - 1) ... edge(y) - 1 of the map's area (edge(MapWidth) x
    // edge(MapHeight) pixels), which lies (size - width) div 2 from the left and (size - height)
    // div 2 from the top. The background is tiled from the area's top-left corner and clipped to
    // it; cells are drawn as in PaintMap. Throws EMapSize unless both dimensions are 1 ... 100.
    QImage PaintPreview(const MapRecord& record, const MapTextures& textures, int size);

private:
    static constexpr int BackgroundStep = 128;

    // Draws each cell (x, y) of the grid with a texture over columns k * size div columns
    // (k = x - 1 ... x) and rows k * size div rows (k = y - 1 ... y) of area, clipped to it.
    void paintCells(const MapRecord& record, const MapTextures& textures, QImage& image,
                     const QRect& area, int size, int columns, int rows);

    struct Scaled {
        qint64 sourceKey;
        int width;
        int height;
        QImage image;
    };
    // The texture stretched to a cell's size, made once per texture and cell size.
    QImage scaledTexture(const TPicture* picture, int width, int height);

    std::vector<Scaled> cache_;
};
