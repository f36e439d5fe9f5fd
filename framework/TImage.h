#pragma once
// TImage: the framework's picture control. A windowless widget that shows its picture at natural
// size from its top-left corner (a JPEG from the window definition, or a bitmap such as a rendered
// thumbnail) and repaints itself whenever that picture changes. It fills nothing else, so whatever
// lies beneath shows where the picture has no pixels. Hidden instances serve as picture holders.

#include "Picture.h"

#include <QString>
#include <QWidget>

class TImage : public QWidget {
    Q_OBJECT
    // The picture by resource or file name (":/assets/grass.jpg"), so that .ui files can set it.
    Q_PROPERTY(QString pictureName READ pictureName WRITE setPictureName)

public:
    explicit TImage(QWidget* parent = nullptr);

    const TPicture& picture() const { return picture_; }
    // Copies the picture in (the caller keeps its own) and repaints.
    void setPicture(const TPicture& picture);

    QString pictureName() const { return pictureName_; }
    // Loads a JPEG picture from a resource or file; an empty name empties the picture.
    void setPictureName(const QString& name);

    // The bitmap the control holds, or nullptr when it holds none (empty or a JPEG).
    TBitmap* bitmap() const;
    // The bitmap to draw on: created at the control's size (32-bit RGB, filled black) the first
    // time it is asked for when the control holds no bitmap. Call changed() after drawing.
    TBitmap& canvasBitmap();
    // Tells the control that its bitmap was drawn on: it repaints.
    void changed() { update(); }

    QSize sizeHint() const override;

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    TPicture picture_;
    QString pictureName_;
};
