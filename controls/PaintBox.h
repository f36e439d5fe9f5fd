#pragma once
// TPaintBox: the base of the windowless picture controls. A plain child QWidget (an alien widget,
// painted on its parent's surface; no background fill, so whatever the control leaves undrawn
// shows the parent), 105 x 105 by default, that paints through a TCanvas.
//
// Mouse handling follows the framework's control rules:
// - a press of any button calls the mouseDown hook; a release calls the mouseUp hook;
// - a left press marks the control as clicked; the left release inside the control raises the
//   click (OnClick, then the clicked() signal) BEFORE the mouseUp hook runs; the mouseUp hook runs
//   also when the click handler throws (the exception then goes on to the application);
// - a left double click raises OnDblClick / dblClicked(), then calls the mouseDown hook; the
//   release that follows raises no click. Qt delivers no mouse events to a disabled widget.
//
// Events: OnClick and OnDblClick are plain std::function fields (sender first), tested before
// they are called; the same events are the Qt signals clicked() and dblClicked(), so .ui
// connections and handlers such as on_IVButton1_clicked() work too.

#include "Canvas.h"

#include <QWidget>
#include <functional>

using TNotifyEvent = std::function<void(QObject* Sender)>;

class TPaintBox : public QWidget {
    Q_OBJECT
public:
    explicit TPaintBox(QWidget* parent = nullptr);

    TNotifyEvent OnClick;
    TNotifyEvent OnDblClick;

signals:
    void clicked();
    void dblClicked();

protected:
    // Draws the control; replaces all inherited painting.
    virtual void Paint(TCanvas& canvas) = 0;
    // Per-control mouse hooks; the defaults do nothing.
    virtual void MouseDown(Qt::MouseButton button, Qt::KeyboardModifiers shift, int x, int y);
    virtual void MouseUp(Qt::MouseButton button, Qt::KeyboardModifiers shift, int x, int y);
    virtual void Click();
    virtual void DblClick();

    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;

private:
    bool clickPending_ = false;
};
