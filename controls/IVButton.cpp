#include "IVButton.h"

TIVButton::TIVButton(QWidget* parent) : TPaintBox(parent)
{
    FFont.font = QFont();
    FFont.color = QColor(0, 0, 0);
}

void TIVButton::setCaption(const QString& caption)
{
    FCaption = caption;
    repaint();
}

void TIVButton::setFont(const TFont& font)
{
    FFont = font;
    repaint();
}

void TIVButton::setFont(const QFont& font)
{
    FFont.font = font;
    repaint();
}

void TIVButton::setFontColor(const QColor& color)
{
    FFont.color = color;
    repaint();
}

void TIVButton::setUpGraphic(const TPicture& picture)
{
    FUpGraphic.assign(picture);
    upResource_.clear();
    update();
}

void TIVButton::setDownGraphic(const TPicture& picture)
{
    FDownGraphic.assign(picture);
    downResource_.clear();
    update();
}

void TIVButton::setUpGraphicResource(const QString& name)
{
    setUpGraphic(name.isEmpty() ? TPicture() : TPicture::fromJpegFile(name));
    upResource_ = name;
}

void TIVButton::setDownGraphicResource(const QString& name)
{
    setDownGraphic(name.isEmpty() ? TPicture() : TPicture::fromJpegFile(name));
    downResource_ = name;
}

void TIVButton::Paint(TCanvas& canvas)
{
    // The up picture decides the size (a 1-pixel-wide picture is taken as a placeholder).
    if (FUpGraphic.width() > 1)
        resize(FUpGraphic.width(), FUpGraphic.height());
    canvas.setBrushStyle(TBrushStyle::Clear);
    canvas.draw(0, 0, FPressed ? FDownGraphic : FUpGraphic);
    canvas.setFont(FFont);
    const int tw = canvas.textWidth(FCaption);
    const int th = canvas.textHeight(FCaption);
    const int x = (width() - tw) / 2;
    const int y = (height() - th) / 2;
    if (FPressed)
        canvas.textOut(x + 2, y + 2, FCaption);
    else
        canvas.textOut(x, y, FCaption);
}

void TIVButton::MouseDown(Qt::MouseButton, Qt::KeyboardModifiers, int, int)
{
    FPressed = true;
    repaint();
}

void TIVButton::MouseUp(Qt::MouseButton, Qt::KeyboardModifiers, int, int)
{
    FPressed = false;
    repaint();
}
