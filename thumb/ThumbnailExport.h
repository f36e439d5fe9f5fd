#pragma once
// Map file to thumbnail BMP in one step, and the pieces the window and the command line share:
// the ".bmp" naming rule and the texture pictures bundled with the program.

#include "PaintMap.h"
#include "Picture.h"

#include <QString>

// Appends ".bmp" unless the fourth character from the end is "." (a three-letter extension):
// "plan" -> "plan.bmp", "plan.jpg" stays, "plan.jpeg" -> "plan.jpeg.bmp". Names shorter than four
// characters always get the extension.
QString withBmpExtension(const QString& fileName);

// The four textures of the renderer, loaded from the program's resources
// (":/assets/grass.jpg", "water.jpg", "wood.jpg", "stone.jpg"). Decoded on first use.
struct BundledTextures {
    BundledTextures();
    MapTextures textures() const { return {&grass, &water, &wood, &stone}; }

    TPicture grass;
    TPicture water;
    TPicture wood;
    TPicture stone;
};

enum class ImageFormat { Bmp, Png };

// What a thumbnail file looks like: its edge in pixels and its format. BMP files are 24-bit
// Windows bitmaps; PNG files are 8 bits per channel RGB, not interlaced. fill draws with
// MapRenderer::PaintMapFilled (cells fill the square) instead of PaintMap (whole pixels per cell,
// as the window). A preview (for file managers) is MapRenderer::PaintPreview's picture as an RGBA
// PNG, written into the output file when that exists (the file manager created it and reads it
// back), never through a symbolic link.
struct ThumbnailFile {
    int size = ThumbnailSize;
    ImageFormat format = ImageFormat::Bmp;
    bool fill = false;
    bool preview = false;
};

// Reads mapFile and draws its preview (MapRenderer::PaintPreview), for the thumbnailer and the
// desktops' preview plugins. Throws the reading errors and EMapSize.
QImage mapPreview(const QString& mapFile, int size, MapRenderer& renderer, const MapTextures& textures);

// Reads mapFile, renders its thumbnail and writes it to outFile (replacing it only when the
// whole file was written). Throws the error of the failing step (EInOutError, ENotRegularFile,
// EDivByZero, EFCreateError, EWriteError); nothing is written when reading or rendering fails.
void exportMapThumbnail(const QString& mapFile, const QString& outFile, MapRenderer& renderer,
                        const MapTextures& textures, const ThumbnailFile& file = {});
