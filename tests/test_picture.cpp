// TPicture: JPEG size from the header, decode once on first draw, copies that stay independent,
// nearest-pixel stretching, corrupt data as an exception, saving in the graphic's own format.

#include "Exception.h"
#include "Picture.h"

#include <gtest/gtest.h>

#include <QBuffer>
#include <QDir>
#include <QtEndian>
#include <QFile>
#include <QImageWriter>
#include <QPainter>
#include <QTemporaryDir>

#include <cerrno>
#include <cstring>
#include <sys/mount.h>
#include <sys/stat.h>

namespace {

QImage solid(int w, int h, QRgb colour)
{
    QImage image(w, h, QImage::Format_RGB32);
    image.fill(colour);
    return image;
}

QByteArray encodeJpeg(const QImage& image)
{
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    QImageWriter writer(&buffer, "jpeg");
    writer.setQuality(95);
    EXPECT_TRUE(writer.write(image));
    return bytes;
}

TPicture jpegPicture(const QImage& image)
{
    TPicture picture;
    picture.setGraphic(std::make_unique<TJPEGImage>(encodeJpeg(image)));
    return picture;
}

TPicture bitmapPicture(const QImage& image)
{
    TPicture picture;
    picture.setGraphic(std::make_unique<TBitmap>(image));
    return picture;
}

// An image whose every pixel differs, so any misplaced source pixel shows.
QImage numbered(int w, int h)
{
    QImage image(w, h, QImage::Format_RGB32);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x)
            image.setPixel(x, y, qRgb(x, y, 7));
    return image;
}

bool near(QRgb a, QRgb b, int tolerance)
{
    return std::abs(qRed(a) - qRed(b)) <= tolerance && std::abs(qGreen(a) - qGreen(b)) <= tolerance
        && std::abs(qBlue(a) - qBlue(b)) <= tolerance;
}

} // namespace

TEST(Picture, JpegSizeComesFromTheHeaderAndDecodingWaitsForTheFirstDraw)
{
    TPicture picture = jpegPicture(solid(37, 21, qRgb(200, 40, 40)));
    auto* jpeg = dynamic_cast<TJPEGImage*>(picture.graphic());
    ASSERT_NE(jpeg, nullptr);
    EXPECT_EQ(picture.width(), 37);
    EXPECT_EQ(picture.height(), 21);
    EXPECT_FALSE(jpeg->isDecoded());

    QImage target = solid(50, 50, qRgb(0, 0, 0));
    QPainter painter(&target);
    picture.draw(painter, 3, 4);
    EXPECT_TRUE(jpeg->isDecoded());
    const qint64 key = jpeg->image().cacheKey();
    picture.draw(painter, 3, 4);
    EXPECT_EQ(jpeg->image().cacheKey(), key) << "the decoded image is reused, not decoded again";
    painter.end();

    EXPECT_TRUE(near(target.pixel(3, 4), qRgb(200, 40, 40), 8));
    EXPECT_TRUE(near(target.pixel(39, 24), qRgb(200, 40, 40), 8));
    EXPECT_EQ(target.pixel(2, 4), qRgb(0, 0, 0));
    EXPECT_EQ(target.pixel(40, 25), qRgb(0, 0, 0));
}

TEST(Picture, GreyscaleJpegDecodesToOpaqueGrey)
{
    QImage grey(9, 5, QImage::Format_Grayscale8);
    grey.fill(100);
    TJPEGImage jpeg(encodeJpeg(grey));
    const QImage& image = jpeg.image();
    ASSERT_EQ(image.size(), QSize(9, 5));
    EXPECT_EQ(image.format(), QImage::Format_RGB32);
    EXPECT_TRUE(near(image.pixel(4, 2), qRgb(100, 100, 100), 3));
    EXPECT_EQ(qAlpha(image.pixel(8, 4)), 255);
}

TEST(Picture, CorruptJpegRaisesAnExceptionNeverACrash)
{
    const QByteArray good = encodeJpeg(numbered(64, 48));
    QByteArray flipped = good;
    for (int i = 200; i < flipped.size() - 2; i += 3)
        flipped[i] = char(flipped[i] ^ 0x5A);
    const struct {
        const char* name;
        QByteArray bytes;
    } cases[] = {
        {"empty", QByteArray()},
        {"not a JPEG", QByteArray("GIF89a this is not a jpeg at all")},
        {"start marker only", QByteArray("\xFF\xD8", 2)},
        {"header cut short", good.left(40)},
    };
    for (const auto& c : cases) {
        try {
            TJPEGImage image(c.bytes);
            ADD_FAILURE() << c.name << ": no exception";
        } catch (const Exception& e) {
            EXPECT_TRUE(e.message().startsWith("JPEG error: ")) << c.name << ": " << e.what();
        }
    }
    // Damage after the header: decoding may give a damaged image or an exception, nothing worse.
    for (const QByteArray& bytes : {flipped, good.left(good.size() / 2)}) {
        try {
            TJPEGImage image(bytes);
            EXPECT_EQ(image.image().size(), QSize(64, 48));
        } catch (const Exception& e) {
            EXPECT_TRUE(e.message().startsWith("JPEG error: ")) << e.what();
        }
    }
}

TEST(Picture, CopiesAreIndependentOfTheOriginal)
{
    TPicture original = bitmapPicture(solid(4, 4, qRgb(10, 20, 30)));
    TPicture copy;
    copy.assign(original);
    static_cast<TBitmap*>(original.graphic())->pixels().fill(qRgb(255, 0, 0));
    EXPECT_EQ(copy.graphic()->image().pixel(1, 1), qRgb(10, 20, 30));

    TPicture jpeg = jpegPicture(solid(8, 8, qRgb(0, 0, 255)));
    TPicture jpegCopy(jpeg);
    jpeg = TPicture();
    EXPECT_TRUE(jpeg.isEmpty());
    ASSERT_FALSE(jpegCopy.isEmpty());
    EXPECT_EQ(jpegCopy.width(), 8);
    EXPECT_NE(dynamic_cast<TJPEGImage*>(jpegCopy.graphic()), nullptr);

    TPicture empty;
    copy = empty;
    EXPECT_TRUE(copy.isEmpty());
    EXPECT_EQ(copy.width(), 0);
    EXPECT_EQ(copy.height(), 0);
}

TEST(Picture, StretchTakesTheNearestSourcePixel)
{
    const QImage source = numbered(5, 3);
    const QSize sizes[] = {{5, 3}, {11, 7}, {2, 2}, {1, 1}, {3, 9}, {160, 1}};
    for (const QSize size : sizes) {
        const QImage out = stretchNearest(source, size.width(), size.height());
        ASSERT_EQ(out.size(), size);
        for (int j = 0; j < size.height(); ++j)
            for (int i = 0; i < size.width(); ++i)
                ASSERT_EQ(out.pixel(i, j), source.pixel(i * 5 / size.width(), j * 3 / size.height()))
                    << size.width() << "x" << size.height() << " at " << i << "," << j;
    }
    EXPECT_TRUE(stretchNearest(source, 0, 4).isNull());
    EXPECT_TRUE(stretchNearest(source, 4, -1).isNull());
}

TEST(Picture, StretchDrawFillsExactlyTheRectangle)
{
    const QImage source = numbered(4, 4);
    TPicture picture = bitmapPicture(source);
    QImage target = solid(20, 20, qRgb(1, 2, 3));
    QPainter painter(&target);
    picture.stretchDraw(painter, QRect(3, 5, 7, 2));
    picture.stretchDraw(painter, QRect(15, 15, 0, 5));
    painter.end();
    for (int y = 0; y < 20; ++y)
        for (int x = 0; x < 20; ++x) {
            const bool inside = x >= 3 && x < 10 && y >= 5 && y < 7;
            const QRgb expected = inside ? source.pixel((x - 3) * 4 / 7, (y - 5) * 4 / 2) : qRgb(1, 2, 3);
            ASSERT_EQ(target.pixel(x, y), expected) << x << "," << y;
        }
}

TEST(Picture, BitmapSavesAs24BitWindowsBmp)
{
    QTemporaryDir dir;
    const QImage source = numbered(160, 160);
    const QString name = dir.filePath("thumb.bmp");
    bitmapPicture(source).saveToFile(name);

    QFile file(name);
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    const QByteArray bytes = file.readAll();
    ASSERT_GE(bytes.size(), 54);
    auto le32 = [&](int at) { return qFromLittleEndian<qint32>(bytes.constData() + at); };
    auto le16 = [&](int at) { return qFromLittleEndian<qint16>(bytes.constData() + at); };
    EXPECT_EQ(bytes.left(2), QByteArray("BM"));
    EXPECT_EQ(le32(2), bytes.size());
    EXPECT_EQ(le32(10), 54);
    EXPECT_EQ(le32(14), 40);
    EXPECT_EQ(le32(18), 160);
    EXPECT_EQ(std::abs(le32(22)), 160);
    EXPECT_EQ(le16(28), 24);
    EXPECT_EQ(bytes.size(), 54 + 160 * 160 * 3);
    EXPECT_EQ(QImage(name).convertToFormat(QImage::Format_RGB32), source);
}

TEST(Picture, SaveErrorsNameTheirCause)
{
    QTemporaryDir dir;
    QFile blocker(dir.filePath("plain-file"));
    ASSERT_TRUE(blocker.open(QIODevice::WriteOnly));
    blocker.close();
    const QString blocked = dir.filePath("plain-file/thumb.bmp");
    TPicture bitmap = bitmapPicture(solid(16, 16, qRgb(1, 1, 1)));
    try {
        bitmap.saveToFile(blocked);
        ADD_FAILURE() << "no exception";
    } catch (const EFCreateError& e) {
        EXPECT_EQ(e.message(), "Cannot create file " + blocked + ": Not a directory");
    }
    // A device (or pipe, or folder) is neither opened nor replaced.
    if (QFile::exists("/dev/full")) {
        try {
            bitmap.saveToFile("/dev/full");
            ADD_FAILURE() << "no exception";
        } catch (const EFCreateError& e) {
            EXPECT_EQ(e.message(), "Cannot create file /dev/full: not a regular file");
        }
        struct stat status {};
        ASSERT_EQ(stat("/dev/full", &status), 0);
        EXPECT_TRUE(S_ISCHR(status.st_mode));
    }
}

TEST(Picture, SaveOnAFullDiskKeepsTheOldFileAndLeavesNoPartialOne)
{
    QTemporaryDir dir;
    // A 160 KiB file system holds one 200 x 200 bitmap (120 KiB) but not a second one beside it.
    const QByteArray disk = QFile::encodeName(dir.filePath("disk"));
    ASSERT_EQ(mkdir(disk.constData(), 0700), 0);
    if (mount("tmpfs", disk.constData(), "tmpfs", 0, "size=160k") != 0)
        GTEST_SKIP() << "cannot mount a small tmpfs here: " << strerror(errno);
    struct Unmount {
        const char* path;
        ~Unmount() { umount2(path, MNT_DETACH); }
    } unmount{disk.constData()};

    const QString name = dir.filePath("disk/thumb.bmp");
    bitmapPicture(numbered(200, 200)).saveToFile(name);
    const QByteArray old = [&] { QFile f(name); f.open(QIODevice::ReadOnly); return f.readAll(); }();
    ASSERT_EQ(old.size(), 54 + 200 * 200 * 3);

    try {
        bitmapPicture(solid(200, 200, qRgb(9, 9, 9))).saveToFile(name);
        ADD_FAILURE() << "no exception";
    } catch (const EWriteError& e) {
        EXPECT_EQ(e.message(), "Stream write error: No space left on device");
    }
    QFile kept(name);
    ASSERT_TRUE(kept.open(QIODevice::ReadOnly));
    EXPECT_EQ(kept.readAll(), old);
    EXPECT_EQ(QDir(dir.filePath("disk")).entryList(QDir::Files | QDir::Hidden), QStringList{"thumb.bmp"});
}

TEST(Picture, SavingKeepsTheGraphicsOwnFormatAndEmptyWritesNothing)
{
    QTemporaryDir dir;
    const QByteArray jpegBytes = encodeJpeg(numbered(30, 20));
    TPicture jpeg;
    jpeg.setGraphic(std::make_unique<TJPEGImage>(jpegBytes));
    jpeg.saveToFile(dir.filePath("copy.jpg"));
    QFile saved(dir.filePath("copy.jpg"));
    ASSERT_TRUE(saved.open(QIODevice::ReadOnly));
    EXPECT_EQ(saved.readAll(), jpegBytes);

    TPicture().saveToFile(dir.filePath("empty.bmp"));
    EXPECT_FALSE(QFile::exists(dir.filePath("empty.bmp")));
}

TEST(Picture, FromJpegFileReadsFilesAndReportsMissingOnes)
{
    QTemporaryDir dir;
    QFile file(dir.filePath("t.jpg"));
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write(encodeJpeg(solid(12, 9, qRgb(0, 128, 0))));
    file.close();
    const TPicture picture = TPicture::fromJpegFile(file.fileName());
    EXPECT_EQ(picture.width(), 12);
    EXPECT_EQ(picture.height(), 9);
    EXPECT_THROW(TPicture::fromJpegFile(dir.filePath("missing.jpg")), Exception);
}
