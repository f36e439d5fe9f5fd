// The application-wide message hook (ApplicationEvents1) and the window's activation
// (FormActivate), both seen through one event filter on the application object.

#include "ui/Unit1.h"

#include "ui/BrowserArea.h"

#include "net/HTTPGet.h"

#include <QApplication>
#include <QApplicationStateChangeEvent>
#include <QKeyEvent>
#include <QMouseEvent>

void TUpdateDlg::ApplicationEvents1Message(QObject* target, QEvent* msg, bool& Handled)
{
    const QEvent::Type type = msg->type();
    if (type == QEvent::MouseButtonPress || type == QEvent::MouseButtonDblClick) {
        // The page gets no right-button press or double click; the browser widget itself is no
        // descendant of itself, and the release passes.
        auto* widget = qobject_cast<QWidget*>(target);
        if (static_cast<QMouseEvent*>(msg)->button() == Qt::RightButton && widget && widget != browser &&
            browser->isAncestorOf(widget))
            Handled = true;
    }
    if (type == QEvent::KeyPress) {
        auto* key = static_cast<QKeyEvent*>(msg);
        if (key->key() == Qt::Key_N && (key->modifiers() & Qt::ControlModifier))
            Handled = true;
    }
}

bool TUpdateDlg::eventFilter(QObject* watched, QEvent* e)
{
    trackActivation(watched, e);
    // Messages handled inside a running download's wait bypass the hook.
    if (getFile_ && getFile_->Running())
        return false;
    bool handled = false;
    ApplicationEvents1Message(watched, e, handled);
    return handled;
}

void TUpdateDlg::trackActivation(QObject* watched, QEvent* e)
{
    // The program losing the focus while this window had it marks the next activation as a
    // return from another program. Losing it from another window of the program (a message
    // box) does not, nor does the short gap while a closing box hands the focus back.
    if (e->type() == QEvent::ApplicationStateChange) {
        if (static_cast<QApplicationStateChangeEvent*>(e)->applicationState() != Qt::ApplicationActive)
            focusFromOtherProgram_ = lastActiveWindow_ == this;
    } else if (e->type() == QEvent::WindowActivate && watched->isWidgetType() &&
               static_cast<QWidget*>(watched)->isWindow()) {
        lastActiveWindow_ = static_cast<QWidget*>(watched);
        if (watched != this)
            focusFromOtherProgram_ = false;
    }
}

bool TUpdateDlg::event(QEvent* e)
{
    if (e->type() == QEvent::WindowActivate) {
        // FormActivate runs when the window is first activated and whenever the focus comes
        // back from another window of the program, not when it comes back from another program.
        const bool run = !activatedOnce_ || !focusFromOtherProgram_;
        activatedOnce_ = true;
        focusFromOtherProgram_ = false;
        if (run)
            FormActivate(this);
    }
    return QWidget::event(e);
}
