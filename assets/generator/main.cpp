// Makes the JPEG pictures of both windows: procedural textures from seeded, tileable noise, the
// bevelled button faces and the banner; and, given a second folder, the thumbnail maker's desktop
// icons in the hicolor theme's layout below it.
// Usage: make_assets <output folder> [<icon folder>]

#include "Icons.h"
#include "Noise.h"

#include <QColor>
#include <QDir>
#include <QFont>
#include <QGuiApplication>
#include <QImage>
#include <QLinearGradient>
#include <QPainter>
#include <QString>
#include <cmath>
#include <cstdio>
#include <functional>

namespace {

int clamp255(double v)
{
    return v < 0 ? 0 : v > 255 ? 255 : static_cast<int>(v + 0.5);
}

QColor shade(QColor base, double delta)
{
    return QColor(clamp255(base.red() + delta), clamp255(base.green() + delta),
                  clamp255(base.blue() + delta));
}

QColor scaled(QColor base, double factor)
{
    return QColor(clamp255(base.red() * factor), clamp255(base.green() * factor),
                  clamp255(base.blue() * factor));
}

// Fills every pixel from a function of (u, v, x, y).
QImage texture(int w, int h, const std::function<QColor(double, double, int, int)>& colourAt)
{
    QImage img(w, h, QImage::Format_RGB32);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x)
            img.setPixelColor(x, y, colourAt(double(x) / w, double(y) / h, x, y));
    return img;
}

QImage paper()
{
    const TileNoise cloud(11, 4, 4);
    const TileNoise fibres(12, 32, 4);
    const QColor base(226, 211, 176);
    return texture(256, 263, [&](double u, double v, int x, int y) {
        const double d = (cloud.fractal(u, v, 5) - 0.5) * 34 + (fibres.fractal(u, v, 2) - 0.5) * 14
                         + (hash01(13, x, y) - 0.5) * 8;
        return shade(base, d);
    });
}

QImage strip()
{
    const TileNoise grain(21, 16, 2);
    const QColor base(118, 82, 46);
    return texture(255, 21, [&](double u, double v, int x, int y) {
        double d = (grain.fractal(u, v, 4) - 0.5) * 30 + (hash01(22, x, y) - 0.5) * 8;
        if (y == 0)
            d += 28;
        else if (y == 20)
            d -= 30;
        return shade(base, d);
    });
}

QImage grass()
{
    const TileNoise patches(31, 4, 4);
    const QColor base(68, 132, 42);
    QImage img = texture(128, 128, [&](double u, double v, int x, int y) {
        const double n = patches.fractal(u, v, 5);
        const double d = (n - 0.5) * 50 + (hash01(32, x, y) - 0.5) * 26;
        return QColor(clamp255(base.red() + d * 0.6), clamp255(base.green() + d),
                      clamp255(base.blue() + d * 0.4));
    });
    // Short blades: thin vertical strokes, light or dark, wrapping at the tile edges.
    for (int i = 0; i < 420; ++i) {
        const int x = static_cast<int>(hash01(33, i, 0) * 128);
        const int y = static_cast<int>(hash01(33, i, 1) * 128);
        const int len = 3 + static_cast<int>(hash01(33, i, 2) * 5);
        const double d = hash01(33, i, 3) < 0.5 ? 40 : -35;
        for (int k = 0; k < len; ++k) {
            const int py = (y + k) % 128;
            const int px = (x + (k * (i % 3 - 1)) / 3 + 128) % 128;
            img.setPixelColor(px, py, shade(img.pixelColor(px, py), d * (len - k) / len));
        }
    }
    return img;
}

QImage water()
{
    const TileNoise swell(41, 4, 4);
    const QColor base(38, 92, 172);
    return texture(128, 128, [&](double u, double v, int x, int y) {
        const double n = swell.fractal(u, v, 4);
        // Wave crests: rows bent by noise, eight per tile so the pattern wraps.
        const double crest = std::sin((v * 8 + (n - 0.5) * 1.6 + std::sin(u * 2 * M_PI) * 0.15) * 2 * M_PI);
        double d = (n - 0.5) * 36 + (hash01(42, x, y) - 0.5) * 6;
        if (crest > 0.8)
            d += (crest - 0.8) * 180;
        return QColor(clamp255(base.red() + d * 0.7), clamp255(base.green() + d * 0.9),
                      clamp255(base.blue() + d));
    });
}

QImage wood()
{
    const TileNoise warp(51, 2, 8);
    const TileNoise fleck(52, 32, 64);
    const QColor light(196, 120, 56);
    const QColor dark(128, 66, 24);
    return texture(300, 300, [&](double u, double v, int x, int y) {
        // Grain runs horizontally: rings across the rows, bent by low-frequency noise.
        const double t = v * 14 + (warp.fractal(u, v, 3) - 0.5) * 3.0;
        const double ring = t - std::floor(t);
        const double k = std::pow(std::fabs(std::sin(ring * M_PI)), 0.6);
        const double f = (fleck.fractal(u, v, 2) - 0.5) * 18 + (hash01(53, x, y) - 0.5) * 6;
        return QColor(clamp255(dark.red() + (light.red() - dark.red()) * k + f),
                      clamp255(dark.green() + (light.green() - dark.green()) * k + f * 0.7),
                      clamp255(dark.blue() + (light.blue() - dark.blue()) * k + f * 0.4));
    });
}

QImage stone()
{
    const TileNoise body(61, 6, 4);
    const TileNoise veins(62, 3, 2);
    const QColor base(132, 132, 128);
    return texture(199, 147, [&](double u, double v, int x, int y) {
        double d = (body.fractal(u, v, 5) - 0.5) * 70 + (hash01(63, x, y) - 0.5) * 22;
        const double vein = std::fabs(veins.fractal(u, v, 4) - 0.5);
        if (vein < 0.005)
            d -= 45;
        return shade(base, d);
    });
}

// A bar with a three-pixel bevel: light top-left and dark bottom-right edges when raised,
// inverted (and a slightly darker face) when pressed.
QImage bevelBar(int w, int h, QColor face, bool pressed, std::uint32_t seed)
{
    const TileNoise grain(seed, 12, 2);
    const QColor faceColour = pressed ? scaled(face, 0.88) : face;
    const QColor lit[3] = {shade(face, 70), shade(face, 48), shade(face, 26)};
    const QColor shadow[3] = {scaled(face, 0.32), scaled(face, 0.5), scaled(face, 0.7)};
    QImage img(w, h, QImage::Format_RGB32);
    for (int y = 0; y < h; ++y) {
        for (int x = 0; x < w; ++x) {
            const double gradient = (pressed ? (double(y) / h - 0.5) : (0.5 - double(y) / h)) * 18;
            const double n = (grain.fractal(double(x) / w, double(y) / h, 3) - 0.5) * 12;
            QColor c = shade(faceColour, gradient + n);
            const int fromTopLeft = std::min(x, y);
            const int fromBottomRight = std::min(w - 1 - x, h - 1 - y);
            const bool nearTopLeft = fromTopLeft < 3 && fromTopLeft <= fromBottomRight;
            if (nearTopLeft || fromBottomRight < 3) {
                const bool litSide = nearTopLeft != pressed;
                const int depth = nearTopLeft ? fromTopLeft : fromBottomRight;
                c = litSide ? lit[depth] : shadow[depth];
            }
            img.setPixelColor(x, y, c);
        }
    }
    return img;
}

QImage banner()
{
    const TileNoise cloud(71, 8, 2);
    QImage img = texture(468, 60, [&](double u, double v, int x, int y) {
        const double d = (cloud.fractal(u, v, 4) - 0.5) * 22 + (hash01(72, x, y) - 0.5) * 6;
        const double depth = 34 - std::fabs(v - 0.5) * 30;
        return QColor(clamp255(depth + 12 + d), clamp255(depth + 4 + d * 0.8), clamp255(depth - 4 + d * 0.6));
    });
    QPainter p(&img);
    p.setRenderHint(QPainter::Antialiasing);
    p.setRenderHint(QPainter::TextAntialiasing);
    const QColor gold(232, 188, 84);
    p.setPen(QPen(scaled(gold, 0.7), 1));
    p.drawRect(QRectF(2.5, 2.5, 468 - 5, 60 - 5));
    QFont font(QStringLiteral("DejaVu Serif"));
    font.setPixelSize(36);
    font.setBold(true);
    p.setFont(font);
    const QRect area(0, 0, 468, 60);
    p.setPen(QColor(0, 0, 0));
    p.drawText(area.translated(2, 2), Qt::AlignCenter, QStringLiteral("Ironvale 3D"));
    QLinearGradient metal(0, 10, 0, 50);
    metal.setColorAt(0, QColor(255, 230, 150));
    metal.setColorAt(1, QColor(190, 130, 40));
    p.setPen(QPen(QBrush(metal), 1));
    p.drawText(area, Qt::AlignCenter, QStringLiteral("Ironvale 3D"));
    return img;
}

bool save(const QImage& img, const QDir& dir, const char* name)
{
    const QString path = dir.filePath(QString::fromLatin1(name));
    if (!img.save(path, "JPEG", 92)) {
        std::fprintf(stderr, "cannot write %s\n", qPrintable(path));
        return false;
    }
    std::printf("%s %dx%d\n", qPrintable(path), img.width(), img.height());
    return true;
}

// <folder>/hicolor/<n>x<n>/apps/ironvale-thumb.png and .../mimetypes/application-x-ironvale-map.png
bool saveIcons(const QDir& folder)
{
    const IconTextures textures{grass(), water(), wood(), stone()};
    bool ok = true;
    for (const int size : {16, 22, 24, 32, 48, 64, 128, 256}) {
        const QString theme = QStringLiteral("hicolor/%1x%1").arg(size);
        const struct {
            const char* context;
            const char* name;
            QImage image;
        } icons[] = {{"apps", "ironvale-thumb", programIcon(size, textures)},
                     {"mimetypes", "application-x-ironvale-map", mapFileIcon(size, textures)}};
        for (const auto& icon : icons) {
            const QString dir = folder.filePath(theme + QLatin1Char('/') + QLatin1String(icon.context));
            const QString path = dir + QLatin1Char('/') + QLatin1String(icon.name) + QStringLiteral(".png");
            if (!QDir().mkpath(dir) || !icon.image.save(path, "PNG")) {
                std::fprintf(stderr, "cannot write %s\n", qPrintable(path));
                ok = false;
                continue;
            }
            std::printf("%s\n", qPrintable(path));
        }
    }
    return ok;
}

}  // namespace

int main(int argc, char** argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);
    const QDir dir(argc > 1 ? QString::fromLocal8Bit(argv[1]) : QStringLiteral("."));
    const QColor beige(214, 196, 152);
    const QColor bronze(196, 164, 104);
    bool ok = true;
    ok &= save(paper(), dir, "background.jpg");
    ok &= save(strip(), dir, "strip.jpg");
    ok &= save(bevelBar(161, 35, beige, false, 81), dir, "thumb_button_up.jpg");
    ok &= save(bevelBar(161, 35, beige, true, 81), dir, "thumb_button_down.jpg");
    ok &= save(grass(), dir, "grass.jpg");
    ok &= save(water(), dir, "water.jpg");
    ok &= save(wood(), dir, "wood.jpg");
    ok &= save(stone(), dir, "stone.jpg");
    ok &= save(banner(), dir, "banner.jpg");
    ok &= save(bevelBar(91, 34, bronze, false, 91), dir, "update_button_up.jpg");
    ok &= save(bevelBar(91, 34, bronze, true, 91), dir, "update_button_down.jpg");
    if (argc > 2)
        ok &= saveIcons(QDir(QString::fromLocal8Bit(argv[2])));
    return ok ? 0 : 1;
}
