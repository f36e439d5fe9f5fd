#pragma once
// TIVButton: a windowless push button drawn from an up and a down picture with a centred caption.
// Any mouse button pressed on it shows the down picture at once and the caption moved by (2, 2);
// the release shows the up picture again. A left press and release inside raises the click while
// the down picture is still shown. An up picture wider than 1 pixel sets the button's size on
// every paint. Caption and font changes repaint at once; picture changes at the next paint cycle.
//
// In a .ui file (custom widget, <header>IVButton.h</header>, <extends>QWidget</extends>):
//   <widget class="TIVButton" name="IVButton1">
//    <property name="geometry"><rect><x>8</x><y>200</y><width>161</width><height>35</height></rect></property>
//    <property name="caption"><string>Save thumbnail</string></property>
//    <property name="font"><font><family>DejaVu Sans</family><pointsize>9</pointsize><bold>true</bold></font></property>
//    <property name="fontColor"><color><red>0</red><green>0</green><blue>0</blue></color></property>
//    <property name="upGraphicResource"><string>:/assets/thumb_button_up.jpg</string></property>
//    <property name="downGraphicResource"><string>:/assets/thumb_button_down.jpg</string></property>
//   </widget>
// Handlers: connect clicked() / dblClicked(), name a slot on_IVButton1_clicked() for
// connectSlotsByName, or assign IVButton1->OnClick = [this](QObject* Sender) { IVButton1Click(Sender); }.
// From C++, setUpGraphic / setDownGraphic / setFont copy what they are given.

#include "PaintBox.h"
#include "Picture.h"

class TIVButton : public TPaintBox {
    Q_OBJECT
    Q_PROPERTY(QString caption READ caption WRITE setCaption)
    Q_PROPERTY(QFont font READ font WRITE setFont)
    Q_PROPERTY(QColor fontColor READ fontColor WRITE setFontColor)
    Q_PROPERTY(QString upGraphicResource READ upGraphicResource WRITE setUpGraphicResource)
    Q_PROPERTY(QString downGraphicResource READ downGraphicResource WRITE setDownGraphicResource)
public:
    explicit TIVButton(QWidget* parent = nullptr);

    QString caption() const { return FCaption; }
    void setCaption(const QString& caption);

    // The caption's font and colour; the button's own, not inherited from its parent.
    const TFont& Font() const { return FFont; }
    void setFont(const TFont& font);
    QFont font() const { return FFont.font; }
    void setFont(const QFont& font);
    QColor fontColor() const { return FFont.color; }
    void setFontColor(const QColor& color);

    const TPicture& upGraphic() const { return FUpGraphic; }
    void setUpGraphic(const TPicture& picture);
    const TPicture& downGraphic() const { return FDownGraphic; }
    void setDownGraphic(const TPicture& picture);
    // Load a JPEG picture by resource or file name (e.g. ":/assets/update_button_up.jpg"); ""
    // empties it. The getters return the name last loaded ("" when set from C++).
    QString upGraphicResource() const { return upResource_; }
    void setUpGraphicResource(const QString& name);
    QString downGraphicResource() const { return downResource_; }
    void setDownGraphicResource(const QString& name);

    bool isPressed() const { return FPressed; }

protected:
    void Paint(TCanvas& canvas) override;
    void MouseDown(Qt::MouseButton button, Qt::KeyboardModifiers shift, int x, int y) override;
    void MouseUp(Qt::MouseButton button, Qt::KeyboardModifiers shift, int x, int y) override;

private:
    bool FPressed = false;
    TPicture FUpGraphic;
    TPicture FDownGraphic;
    QString FCaption = QStringLiteral("IV Button");
    TFont FFont;
    QString upResource_;
    QString downResource_;
};
