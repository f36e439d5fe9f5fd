#include "ui/ActivationTracker.h"

#include <QApplicationStateChangeEvent>
#include <QEvent>

void ActivationTracker::observe(QObject* watched, QEvent* e)
{
    // The program losing the focus while the window had it marks the next activation as a
    // return from another program. Losing it from another window of the program (a message
    // box) does not, nor does the short gap while a closing box hands the focus back.
    if (e->type() == QEvent::ApplicationStateChange) {
        if (static_cast<QApplicationStateChangeEvent*>(e)->applicationState() != Qt::ApplicationActive)
            focusFromOtherProgram_ = lastActiveWindow_ == window_;
    } else if (e->type() == QEvent::WindowActivate && watched->isWidgetType() &&
               static_cast<QWidget*>(watched)->isWindow()) {
        lastActiveWindow_ = static_cast<QWidget*>(watched);
        if (watched != window_)
            focusFromOtherProgram_ = false;
    }
}

bool ActivationTracker::activating()
{
    const bool formActivate = !activatedOnce_ || !focusFromOtherProgram_;
    activatedOnce_ = true;
    focusFromOtherProgram_ = false;
    return formActivate;
}
