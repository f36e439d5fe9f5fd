#include "IVTileImage.h"

TIVTileImage::TIVTileImage(QWidget* parent) : TPaintBox(parent) {}

void TIVTileImage::setGraphic(const TPicture& picture)
{
    FGraphic.assign(picture);
    graphicResource_.clear();
    update();
}

void TIVTileImage::setGraphicResource(const QString& name)
{
    setGraphic(name.isEmpty() ? TPicture() : TPicture::fromJpegFile(name));
    graphicResource_ = name;
}

void TIVTileImage::Paint(TCanvas& canvas)
{
    canvas.setBrushStyle(TBrushStyle::Clear);
    const int pw = FGraphic.width();
    const int ph = FGraphic.height();
    if (pw > 0 && ph > 0) {
        const int columns = width() / pw;
        const int rows = height() / ph;
        for (int c = 0; c <= columns; ++c)
            for (int r = 0; r <= rows; ++r)
                canvas.draw(c * pw, r * ph, FGraphic);
    }
    if (FBorder) {
        canvas.setPenStyle(TPenStyle::Solid);
        canvas.setPenColor(QColor(0x00, 0x00, 0x00));
        canvas.setBrushStyle(TBrushStyle::Clear);
        canvas.rectangle(0, 0, width(), height());
        canvas.setPenColor(QColor(0xC0, 0xC0, 0xC0));
        canvas.moveTo(0, 0);
        canvas.lineTo(width(), 0);
        canvas.moveTo(0, 0);
        canvas.lineTo(0, height());
    }
}
