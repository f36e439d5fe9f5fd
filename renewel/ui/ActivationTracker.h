#pragma once
// Tells a window's activations apart: FormActivate runs when the window is first activated and
// whenever the focus comes back from another window of the program, not when it comes back from
// another program. It watches the application's events (through the window's filter on the
// application object) to know where the focus came from.

#include <QPointer>
#include <QWidget>

class QEvent;

class ActivationTracker {
public:
    explicit ActivationTracker(QWidget* window) : window_(window) {}

    // Every event the application delivers, before it is delivered.
    void observe(QObject* watched, QEvent* e);
    // The window is being activated: whether that is a FormActivate.
    bool activating();

private:
    QWidget* window_;
    bool activatedOnce_ = false;
    // The program lost the focus to another program; the next activation of the window comes
    // from there and is not a FormActivate.
    bool focusFromOtherProgram_ = false;
    QPointer<QWidget> lastActiveWindow_;
};
