#pragma once
// TIVTileImage: a windowless control that covers its rectangle with copies of one picture laid
// edge to edge from its top-left corner, and can draw a one-pixel frame (silver top and left
// edges, black right and bottom edges).
//
// In a .ui file (custom widget, <header>IVTileImage.h</header>, <extends>QWidget</extends>):
//   <widget class="TIVTileImage" name="IVTileImage1">
//    <property name="geometry"><rect><x>0</x><y>0</y><width>344</width><height>180</height></rect></property>
//    <property name="graphicResource"><string>:/assets/background.jpg</string></property>
//    <property name="border"><bool>true</bool></property>
//   </widget>
// From C++, setGraphic(const TPicture&) copies the picture (the caller keeps its own). The click
// events are those of TPaintBox (OnClick field, clicked() signal).

#include "PaintBox.h"
#include "Picture.h"

class TIVTileImage : public TPaintBox {
    Q_OBJECT
    Q_PROPERTY(QString graphicResource READ graphicResource WRITE setGraphicResource)
    Q_PROPERTY(bool border READ border WRITE setBorder)
public:
    explicit TIVTileImage(QWidget* parent = nullptr);

    const TPicture& graphic() const { return FGraphic; }
    // Copies the picture into the control's own holder and schedules a repaint.
    void setGraphic(const TPicture& picture);

    // The resource or file name the picture was last loaded from ("" when set from C++).
    QString graphicResource() const { return graphicResource_; }
    // Loads a JPEG picture (e.g. ":/assets/grass.jpg"); "" empties the picture.
    void setGraphicResource(const QString& name);

    bool border() const { return FBorder; }
    // Only stores the flag; the frame shows at the next repaint.
    void setBorder(bool border) { FBorder = border; }

protected:
    void Paint(TCanvas& canvas) override;

private:
    TPicture FGraphic;
    bool FBorder = false;
    QString graphicResource_;
};
