#pragma once
// TPicture: holder of one graphic, a JPEG image (TJPEGImage) or a bitmap (TBitmap), with its
// pixel width and height (0 x 0 when empty). It draws at a point or stretched into a rectangle
// (nearest pixel: whole pixels dropped or repeated, no smoothing), is assigned as a copy (the
// caller keeps what it passed), and saves in its graphic's own format (nothing when empty).
// A JPEG is decoded once, on its first draw; the decoded image is reused afterwards.

#include <QByteArray>
#include <QImage>
#include <QRect>
#include <QString>
#include <memory>

class QPainter;

// Nearest-pixel stretch of the whole image to width x height: destination pixel (i, j) takes
// source pixel (i * srcW div width, j * srcH div height). Whole pixels are dropped or repeated,
// nothing is blended. Returns a null image for an empty size. The result is RGB32 (ARGB32 when
// the source is ARGB32).
QImage stretchNearest(const QImage& source, int width, int height);

class TGraphic {
public:
    virtual ~TGraphic() = default;
    virtual int width() const = 0;
    virtual int height() const = 0;
    // The pixels to draw (decoded on first use for a JPEG).
    virtual const QImage& image() const = 0;
    virtual std::unique_ptr<TGraphic> clone() const = 0;
    virtual void saveToFile(const QString& fileName) const = 0;
};

class TJPEGImage : public TGraphic {
public:
    // Takes the compressed bytes; the size is read from the header at once. Throws Exception on
    // data that is not a JPEG.
    explicit TJPEGImage(QByteArray data);
    int width() const override { return width_; }
    int height() const override { return height_; }
    const QImage& image() const override;
    std::unique_ptr<TGraphic> clone() const override;
    void saveToFile(const QString& fileName) const override;
    const QByteArray& data() const { return data_; }
    bool isDecoded() const { return !decoded_.isNull(); }

private:
    QByteArray data_;
    int width_ = 0;
    int height_ = 0;
    mutable QImage decoded_;
};

class TBitmap : public TGraphic {
public:
    TBitmap() = default;
    explicit TBitmap(QImage image) : image_(std::move(image)) {}
    int width() const override { return image_.width(); }
    int height() const override { return image_.height(); }
    const QImage& image() const override { return image_; }
    QImage& pixels() { return image_; }
    std::unique_ptr<TGraphic> clone() const override;
    // Writes a Windows BMP; throws EFCreateError / EWriteError.
    void saveToFile(const QString& fileName) const override;

private:
    QImage image_;
};

class TPicture {
public:
    TPicture() = default;
    TPicture(const TPicture& other);
    TPicture& operator=(const TPicture& other);
    TPicture(TPicture&&) noexcept = default;
    TPicture& operator=(TPicture&&) noexcept = default;

    // A JPEG picture from a file or a Qt resource path such as ":/assets/grass.jpg".
    static TPicture fromJpegFile(const QString& path);

    bool isEmpty() const { return !graphic_; }
    int width() const { return graphic_ ? graphic_->width() : 0; }
    int height() const { return graphic_ ? graphic_->height() : 0; }
    TGraphic* graphic() const { return graphic_.get(); }
    void setGraphic(std::unique_ptr<TGraphic> graphic) { graphic_ = std::move(graphic); }
    void assign(const TPicture& other) { *this = other; }

    // Draws at natural size with the top-left corner at (x, y). Empty draws nothing.
    void draw(QPainter& painter, int x, int y) const;
    // Stretches the whole picture into rect without smoothing. Empty rects draw nothing.
    void stretchDraw(QPainter& painter, const QRect& rect) const;
    // Saves in the graphic's own format; nothing is written when empty.
    void saveToFile(const QString& fileName) const;

private:
    std::unique_ptr<TGraphic> graphic_;
};
