#pragma once
// Shared helpers of the control tests: pictures made for the test, a host window with a known
// background, a recorder of paints and events, and a font without antialiasing.

#include "Picture.h"

#include <QColor>
#include <QEvent>
#include <QFont>
#include <QImage>
#include <QObject>
#include <QPalette>
#include <QStringList>
#include <QWidget>
#include <functional>
#include <memory>
#include <ostream>

// Readable QString values in test failure messages.
inline void PrintTo(const QString& text, std::ostream* out)
{
    *out << '"' << text.toStdString() << '"';
}

inline TPicture solidPicture(int w, int h, QColor color)
{
    QImage image(w, h, QImage::Format_RGB32);
    image.fill(color);
    TPicture picture;
    picture.setGraphic(std::make_unique<TBitmap>(image));
    return picture;
}

// Every pixel names its own coordinates, so any pixel of a tiling shows where the tile started.
inline QRgb coded(int x, int y)
{
    return qRgb(x & 0xFF, y & 0xFF, ((x >> 8) << 4) | (y >> 8));
}

inline TPicture codedPicture(int w, int h)
{
    QImage image(w, h, QImage::Format_RGB32);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x)
            image.setPixel(x, y, coded(x, y));
    TPicture picture;
    picture.setGraphic(std::make_unique<TBitmap>(image));
    return picture;
}

inline const QColor kHostBackground(255, 0, 255);

// A top-level window filled with kHostBackground, on which the controls are placed.
class Host : public QWidget {
public:
    Host(int w = 400, int h = 300)
    {
        QPalette palette;
        palette.setColor(QPalette::Window, kHostBackground);
        setPalette(palette);
        setAutoFillBackground(true);
        resize(w, h);
    }
    QImage image() { return grab().toImage().convertToFormat(QImage::Format_RGB32); }
};

// Records the paints of a widget (and anything the test adds) in order.
class EventLog : public QObject {
public:
    explicit EventLog(QWidget* watched, std::function<QString()> paintTag = nullptr)
        : paintTag_(std::move(paintTag))
    {
        watched->installEventFilter(this);
    }
    bool eventFilter(QObject*, QEvent* event) override
    {
        if (event->type() == QEvent::Paint && !paused)
            entries << (paintTag_ ? QStringLiteral("paint:") + paintTag_() : QStringLiteral("paint"));
        return false;
    }
    int count(const QString& entry) const { return int(entries.count(entry)); }
    QStringList entries;
    bool paused = false;  // set while the test itself grabs pictures

private:
    std::function<QString()> paintTag_;
};

// A fixed font drawn without antialiasing, so that text pixels are exact.
inline QFont testFont(int pixelSize = 14)
{
    QFont font(QStringLiteral("DejaVu Sans"));
    font.setPixelSize(pixelSize);
    font.setStyleStrategy(QFont::NoAntialias);
    return font;
}

// The bounding box of the pixels that differ from the background colour, or an empty rect.
inline QRect inkBox(const QImage& image, const QRect& area, QRgb background)
{
    QRect box;
    for (int y = area.top(); y <= area.bottom(); ++y)
        for (int x = area.left(); x <= area.right(); ++x)
            if (image.pixel(x, y) != background)
                box |= QRect(x, y, 1, 1);
    return box;
}
