#include "Canvas.h"

#include "Picture.h"

#include <QFontMetrics>
#include <QPainter>
#include <QRect>
#include <cstdlib>
#include <vector>

TCanvas::TCanvas(QPainter& painter) : painter_(painter)
{
    painter_.setRenderHint(QPainter::Antialiasing, false);
    painter_.setRenderHint(QPainter::SmoothPixmapTransform, false);
}

void TCanvas::fill(int x, int y, int w, int h, const QColor& color)
{
    if (w > 0 && h > 0)
        painter_.fillRect(QRect(x, y, w, h), color);
}

void TCanvas::rectangle(int left, int top, int right, int bottom)
{
    if (left > right)
        std::swap(left, right);
    if (top > bottom)
        std::swap(top, bottom);
    const int w = right - left;
    const int h = bottom - top;
    if (penStyle_ == TPenStyle::Clear) {
        // Without a pen the filled area is one pixel smaller on the right and bottom.
        if (brushStyle_ == TBrushStyle::Solid)
            fill(left, top, w - 1, h - 1, brushColor_);
        return;
    }
    if (w <= 0 || h <= 0)
        return;
    if (brushStyle_ == TBrushStyle::Solid)
        fill(left + 1, top + 1, w - 2, h - 2, brushColor_);
    fill(left, top, w, 1, penColor_);
    fill(left, bottom - 1, w, 1, penColor_);
    fill(left, top, 1, h, penColor_);
    fill(right - 1, top, 1, h, penColor_);
}

void TCanvas::lineTo(int x, int y)
{
    const QPoint from = penPos_;
    penPos_ = QPoint(x, y);
    if (penStyle_ == TPenStyle::Clear || from == penPos_)
        return;
    const int dx = x - from.x();
    const int dy = y - from.y();
    if (dy == 0) {
        fill(dx > 0 ? from.x() : x + 1, y, std::abs(dx), 1, penColor_);
        return;
    }
    if (dx == 0) {
        fill(x, dy > 0 ? from.y() : y + 1, 1, std::abs(dy), penColor_);
        return;
    }
    // Bresenham from the start point, stopping one step short of the end point.
    const int sx = dx > 0 ? 1 : -1;
    const int sy = dy > 0 ? 1 : -1;
    const int adx = std::abs(dx);
    const int ady = -std::abs(dy);
    int err = adx + ady;
    int px = from.x();
    int py = from.y();
    std::vector<QPoint> points;
    points.reserve(static_cast<size_t>(std::max(adx, -ady)));
    while (px != x || py != y) {
        points.emplace_back(px, py);
        const int e2 = 2 * err;
        if (e2 >= ady) {
            err += ady;
            px += sx;
        }
        if (e2 <= adx) {
            err += adx;
            py += sy;
        }
    }
    painter_.save();
    painter_.setPen(QPen(penColor_, 1));
    painter_.drawPoints(points.data(), static_cast<int>(points.size()));
    painter_.restore();
}

void TCanvas::textOut(int x, int y, const QString& text)
{
    if (text.isEmpty())
        return;
    const QFontMetrics metrics(font_.font, painter_.device());
    if (brushStyle_ == TBrushStyle::Solid)
        fill(x, y, metrics.horizontalAdvance(text), metrics.height(), brushColor_);
    painter_.save();
    painter_.setFont(font_.font);
    painter_.setPen(font_.color);
    painter_.setBackgroundMode(Qt::TransparentMode);
    painter_.drawText(x, y + metrics.ascent(), text);
    painter_.restore();
}

int TCanvas::textWidth(const QString& text) const
{
    return QFontMetrics(font_.font, painter_.device()).horizontalAdvance(text);
}

int TCanvas::textHeight(const QString& text) const
{
    Q_UNUSED(text);
    return QFontMetrics(font_.font, painter_.device()).height();
}

void TCanvas::draw(int x, int y, const TPicture& picture)
{
    picture.draw(painter_, x, y);
}

void TCanvas::stretchDraw(const QRect& rect, const TPicture& picture)
{
    picture.stretchDraw(painter_, rect);
}
