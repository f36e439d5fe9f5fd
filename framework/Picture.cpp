#include "Picture.h"

#include "Exception.h"
#include "JpegDecoder.h"
#include "SaveFile.h"

#include <QDir>
#include <QFile>
#include <QIODevice>
#include <QPainter>

#include <vector>

QImage stretchNearest(const QImage& source, int width, int height)
{
    if (width <= 0 || height <= 0 || source.isNull())
        return QImage();
    const QImage src = source.format() == QImage::Format_RGB32 || source.format() == QImage::Format_ARGB32
                           ? source
                           : source.convertToFormat(QImage::Format_RGB32);
    QImage out(width, height, src.format());
    if (out.isNull())
        return out;
    const int sw = src.width();
    const int sh = src.height();
    std::vector<int> columns(static_cast<size_t>(width));
    for (int i = 0; i < width; ++i)
        columns[size_t(i)] = int(qint64(i) * sw / width);
    for (int j = 0; j < height; ++j) {
        const auto* in = reinterpret_cast<const quint32*>(src.constScanLine(int(qint64(j) * sh / height)));
        auto* line = reinterpret_cast<quint32*>(out.scanLine(j));
        for (int i = 0; i < width; ++i)
            line[i] = in[columns[size_t(i)]];
    }
    return out;
}

// --- TJPEGImage ---

TJPEGImage::TJPEGImage(QByteArray data) : data_(std::move(data))
{
    const QSize size = readJpegSize(data_);
    width_ = size.width();
    height_ = size.height();
}

const QImage& TJPEGImage::image() const
{
    if (decoded_.isNull())
        decoded_ = decodeJpeg(data_);
    return decoded_;
}

std::unique_ptr<TGraphic> TJPEGImage::clone() const
{
    return std::make_unique<TJPEGImage>(*this);
}

void TJPEGImage::saveToFile(const QString& fileName) const
{
    saveFileReplacing(fileName, [this](QIODevice& file) { return file.write(data_) == data_.size(); });
}

// --- TBitmap ---

std::unique_ptr<TGraphic> TBitmap::clone() const
{
    return std::make_unique<TBitmap>(image_);
}

void TBitmap::saveToFile(const QString& fileName) const
{
    if (image_.isNull())
        return;
    saveImageFile(image_.convertToFormat(QImage::Format_RGB888), fileName, "bmp");
}

// --- TPicture ---

TPicture::TPicture(const TPicture& other) : graphic_(other.graphic_ ? other.graphic_->clone() : nullptr) {}

TPicture& TPicture::operator=(const TPicture& other)
{
    if (this != &other)
        graphic_ = other.graphic_ ? other.graphic_->clone() : nullptr;
    return *this;
}

TPicture TPicture::fromJpegFile(const QString& path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        throw Exception(QStringLiteral("Cannot open file %1").arg(QDir::toNativeSeparators(path)));
    TPicture picture;
    picture.setGraphic(std::make_unique<TJPEGImage>(file.readAll()));
    return picture;
}

void TPicture::draw(QPainter& painter, int x, int y) const
{
    if (!graphic_ || graphic_->width() <= 0 || graphic_->height() <= 0)
        return;
    painter.drawImage(x, y, graphic_->image());
}

void TPicture::stretchDraw(QPainter& painter, const QRect& rect) const
{
    if (!graphic_ || rect.width() <= 0 || rect.height() <= 0)
        return;
    const QImage& source = graphic_->image();
    if (source.isNull())
        return;
    if (source.size() == rect.size())
        painter.drawImage(rect.topLeft(), source);
    else
        painter.drawImage(rect.topLeft(), stretchNearest(source, rect.width(), rect.height()));
}

void TPicture::saveToFile(const QString& fileName) const
{
    if (graphic_)
        graphic_->saveToFile(fileName);
}
