#pragma once
// TCanvas: the drawing rules of the framework's canvas on top of a QPainter, exact to the pixel
// (no antialiasing for shapes):
// - rectangle(l, t, r, b): right and bottom exclusive; a solid pen outlines columns l and r - 1 and
//   rows t and b - 1, a solid brush fills the inside; a clear brush fills nothing.
// - moveTo / lineTo: one-pixel lines whose end point is not drawn; the pen then stands on it.
// - textOut(x, y): the text's top-left corner at (x, y), in the font's colour; with a clear
//   brush the background stays transparent, with a solid brush it is filled with the brush colour.
// - textWidth / textHeight: QFontMetrics horizontalAdvance and height on the painted device.
// - draw / stretchDraw: pictures at natural size, or stretched without smoothing.

#include <QColor>
#include <QFont>
#include <QPoint>
#include <QString>

class QPainter;
class QRect;
class TPicture;

// A font with its colour (Qt keeps colour out of QFont).
struct TFont {
    QFont font;
    QColor color = QColor(0, 0, 0);
    bool operator==(const TFont& other) const { return font == other.font && color == other.color; }
};

enum class TPenStyle { Solid, Clear };
enum class TBrushStyle { Solid, Clear };

class TCanvas {
public:
    // The painter must outlive the canvas. Antialiasing is switched off on it.
    explicit TCanvas(QPainter& painter);

    QPainter& painter() { return painter_; }

    void setPenColor(const QColor& color) { penColor_ = color; }
    void setPenStyle(TPenStyle style) { penStyle_ = style; }
    void setBrushColor(const QColor& color) { brushColor_ = color; }
    void setBrushStyle(TBrushStyle style) { brushStyle_ = style; }
    void setFont(const TFont& font) { font_ = font; }
    const TFont& font() const { return font_; }
    QPoint penPos() const { return penPos_; }

    void rectangle(int left, int top, int right, int bottom);
    void moveTo(int x, int y) { penPos_ = QPoint(x, y); }
    void lineTo(int x, int y);
    void textOut(int x, int y, const QString& text);
    int textWidth(const QString& text) const;
    int textHeight(const QString& text) const;
    void draw(int x, int y, const TPicture& picture);
    void stretchDraw(const QRect& rect, const TPicture& picture);

private:
    void fill(int x, int y, int w, int h, const QColor& color);

    QPainter& painter_;
    QColor penColor_ = QColor(0, 0, 0);
    TPenStyle penStyle_ = TPenStyle::Solid;
    QColor brushColor_ = QColor(255, 255, 255);
    TBrushStyle brushStyle_ = TBrushStyle::Solid;
    TFont font_;
    QPoint penPos_;
};
