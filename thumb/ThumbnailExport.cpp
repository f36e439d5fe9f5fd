#include "ThumbnailExport.h"

#include "MapRecord.h"
#include "SaveFile.h"

QString withBmpExtension(const QString& fileName)
{
    if (fileName.size() >= 4 && fileName.at(fileName.size() - 4) == QLatin1Char('.'))
        return fileName;
    return fileName + QStringLiteral(".bmp");
}

BundledTextures::BundledTextures()
    : grass(TPicture::fromJpegFile(QStringLiteral(":/assets/grass.jpg"))),
      water(TPicture::fromJpegFile(QStringLiteral(":/assets/water.jpg"))),
      wood(TPicture::fromJpegFile(QStringLiteral(":/assets/wood.jpg"))),
      stone(TPicture::fromJpegFile(QStringLiteral(":/assets/stone.jpg")))
{
}

QImage mapPreview(const QString& mapFile, int size, MapRenderer& renderer, const MapTextures& textures)
{
    MapRecord record;
    readMapFile(mapFile, record);
    return renderer.PaintPreview(record, textures, size);
}

void exportMapThumbnail(const QString& mapFile, const QString& outFile, MapRenderer& renderer,
                        const MapTextures& textures, const ThumbnailFile& file)
{
    if (file.preview) {
        saveImageFile(mapPreview(mapFile, file.size, renderer, textures), outFile, "png", 70,
                      SaveMode::IntoExisting);
        return;
    }
    MapRecord record;
    readMapFile(mapFile, record);
    QImage thumbnail;
    if (file.fill)
        renderer.PaintMapFilled(record, textures, thumbnail, file.size);
    else
        renderer.PaintMap(record, textures, thumbnail, file.size);
    // Light compression: a file manager waits for each thumbnail, and at this effort the files
    // are no larger than at Qt's default while taking a third of the time.
    if (file.format == ImageFormat::Png)
        saveImageFile(thumbnail.convertToFormat(QImage::Format_RGB888), outFile, "png", 70);
    else
        TBitmap(thumbnail).saveToFile(outFile);
}
