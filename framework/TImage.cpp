#include "TImage.h"

#include <QPainter>

TImage::TImage(QWidget* parent) : QWidget(parent)
{
    // Windowless: the parent's surface shows through wherever the picture does not draw.
    setAttribute(Qt::WA_NoSystemBackground);
}

void TImage::setPicture(const TPicture& picture)
{
    picture_.assign(picture);
    update();
}

void TImage::setPictureName(const QString& name)
{
    pictureName_ = name;
    if (name.isEmpty())
        picture_ = TPicture();
    else
        picture_ = TPicture::fromJpegFile(name);
    update();
}

TBitmap* TImage::bitmap() const
{
    return dynamic_cast<TBitmap*>(picture_.graphic());
}

TBitmap& TImage::canvasBitmap()
{
    if (TBitmap* existing = bitmap())
        return *existing;
    QImage image(qMax(width(), 1), qMax(height(), 1), QImage::Format_RGB32);
    image.fill(Qt::black);
    auto created = std::make_unique<TBitmap>(std::move(image));
    TBitmap& result = *created;
    picture_.setGraphic(std::move(created));
    update();
    return result;
}

QSize TImage::sizeHint() const
{
    return picture_.isEmpty() ? QSize(105, 105) : QSize(picture_.width(), picture_.height());
}

void TImage::paintEvent(QPaintEvent*)
{
    if (picture_.isEmpty())
        return;
    QPainter painter(this);
    picture_.draw(painter, 0, 0);
}
