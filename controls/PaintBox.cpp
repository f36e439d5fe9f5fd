#include "PaintBox.h"

#include <QMouseEvent>
#include <QPainter>
#include <QPointer>

namespace {

bool isMouseButton(Qt::MouseButton button)
{
    return button == Qt::LeftButton || button == Qt::RightButton || button == Qt::MiddleButton;
}

}  // namespace

TPaintBox::TPaintBox(QWidget* parent) : QWidget(parent)
{
    resize(105, 105);
}

void TPaintBox::MouseDown(Qt::MouseButton, Qt::KeyboardModifiers, int, int) {}

void TPaintBox::MouseUp(Qt::MouseButton, Qt::KeyboardModifiers, int, int) {}

void TPaintBox::Click()
{
    if (OnClick)
        OnClick(this);
    emit clicked();
}

void TPaintBox::DblClick()
{
    if (OnDblClick)
        OnDblClick(this);
    emit dblClicked();
}

void TPaintBox::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    TCanvas canvas(painter);
    Paint(canvas);
}

void TPaintBox::mousePressEvent(QMouseEvent* event)
{
    event->accept();
    if (!isMouseButton(event->button()))
        return;
    if (event->button() == Qt::LeftButton)
        clickPending_ = true;
    const QPoint pos = event->position().toPoint();
    MouseDown(event->button(), event->modifiers(), pos.x(), pos.y());
}

void TPaintBox::mouseReleaseEvent(QMouseEvent* event)
{
    event->accept();
    if (!isMouseButton(event->button()))
        return;
    const QPoint pos = event->position().toPoint();
    const Qt::MouseButton button = event->button();
    const Qt::KeyboardModifiers shift = event->modifiers();
    if (button == Qt::LeftButton && clickPending_) {
        clickPending_ = false;
        if (rect().contains(pos)) {
            // The click runs before the mouse-up hook; the hook still runs when a handler throws.
            // A handler may also destroy the control, and then nothing more is done to it.
            const QPointer<TPaintBox> self(this);
            try {
                Click();
            } catch (...) {
                if (self)
                    MouseUp(button, shift, pos.x(), pos.y());
                throw;
            }
            if (!self)
                return;
        }
    }
    MouseUp(button, shift, pos.x(), pos.y());
}

void TPaintBox::mouseDoubleClickEvent(QMouseEvent* event)
{
    event->accept();
    if (!isMouseButton(event->button()))
        return;
    // The press that started this double click raises no click when released.
    if (event->button() == Qt::LeftButton) {
        clickPending_ = false;
        DblClick();
    }
    const QPoint pos = event->position().toPoint();
    MouseDown(event->button(), event->modifiers(), pos.x(), pos.y());
}
