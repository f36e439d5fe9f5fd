#include "Icons.h"

#include <QColor>
#include <QPainter>
#include <QPainterPath>

#include <algorithm>

namespace {

// The little map both icons show: 0 grass, 1 water, 2 wood, 3 stone.
constexpr int Cells = 4;
constexpr int MapCodes[Cells][Cells] = {
    {0, 1, 1, 0},
    {0, 0, 3, 1},
    {2, 0, 0, 1},
    {2, 2, 0, 3},
};

// The texture at a cell's size: scaled smoothly where there is room for its grain, its average
// colour where the cell is only a few pixels wide.
QImage cellPicture(const QImage& texture, int width, int height)
{
    if (width >= 12)
        return texture.scaled(width, height, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
    QImage flat(width, height, QImage::Format_RGB32);
    flat.fill(texture.scaled(1, 1, Qt::IgnoreAspectRatio, Qt::SmoothTransformation).pixel(0, 0));
    return flat;
}

// Draws the map of cells into area, clipped to clip.
void drawMap(QPainter& p, const QRect& area, const QPainterPath& clip, const IconTextures& t)
{
    const QImage* textures[] = {&t.grass, &t.water, &t.wood, &t.stone};
    p.save();
    p.setClipPath(clip);
    for (int row = 0; row < Cells; ++row)
        for (int column = 0; column < Cells; ++column) {
            const int left = area.left() + area.width() * column / Cells;
            const int right = area.left() + area.width() * (column + 1) / Cells;
            const int top = area.top() + area.height() * row / Cells;
            const int bottom = area.top() + area.height() * (row + 1) / Cells;
            p.drawImage(left, top, cellPicture(*textures[MapCodes[row][column]], right - left, bottom - top));
        }
    p.restore();
}

const QColor Frame(118, 82, 46);  // the window's brown strip
const QColor Page(244, 236, 214);  // the window's beige paper, lighter

}  // namespace

QImage programIcon(int size, const IconTextures& textures)
{
    QImage icon(size, size, QImage::Format_ARGB32_Premultiplied);
    icon.fill(Qt::transparent);
    QPainter p(&icon);
    p.setRenderHint(QPainter::Antialiasing);
    const double margin = size / 16.0;
    const double frame = std::max(1.0, size / 14.0);
    const QRectF outer(margin, margin, size - 2 * margin, size - 2 * margin);
    const double radius = size / 10.0;
    QPainterPath outerPath;
    outerPath.addRoundedRect(outer, radius, radius);
    p.fillPath(outerPath, Frame);
    const QRectF inner = outer.adjusted(frame, frame, -frame, -frame);
    QPainterPath innerPath;
    innerPath.addRoundedRect(inner, radius / 2, radius / 2);
    drawMap(p, inner.toAlignedRect(), innerPath, textures);
    return icon;
}

QImage mapFileIcon(int size, const IconTextures& textures)
{
    QImage icon(size, size, QImage::Format_ARGB32_Premultiplied);
    icon.fill(Qt::transparent);
    QPainter p(&icon);
    p.setRenderHint(QPainter::Antialiasing);
    // A portrait page with its top-right corner folded over.
    const double left = size * 0.16, right = size * 0.84, top = size * 0.06, bottom = size * 0.94;
    const double fold = size * 0.2;
    QPainterPath page;
    page.moveTo(left, top);
    page.lineTo(right - fold, top);
    page.lineTo(right, top + fold);
    page.lineTo(right, bottom);
    page.lineTo(left, bottom);
    page.closeSubpath();
    p.fillPath(page, Page);
    p.setPen(QPen(Frame, std::max(1.0, size / 32.0)));
    p.drawPath(page);
    QPainterPath corner;
    corner.moveTo(right - fold, top);
    corner.lineTo(right - fold, top + fold);
    corner.lineTo(right, top + fold);
    corner.closeSubpath();
    p.fillPath(corner, Frame.lighter(150));
    p.drawPath(corner);
    // The map in the lower part of the page.
    const double inset = size * 0.1;
    const QRectF mapArea(left + inset, top + fold + inset * 0.6, right - left - 2 * inset, right - left - 2 * inset);
    QPainterPath mapPath;
    mapPath.addRect(mapArea);
    drawMap(p, mapArea.toAlignedRect(), mapPath, textures);
    return icon;
}
