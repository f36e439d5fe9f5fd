#pragma once
// What must hold before the window can be made, checked up front so that a failure prints its
// one line instead of dying silently: a display to show it on, and a browser engine that will
// start. Runs that need no one to look at them (quiet, repair) make their window off screen when
// there is no display. Fatal messages of Qt itself become a failure line too.

#include <QString>

struct StartupProblem {
    QString subject;  // "display" or "browser"; empty when there is none
    QString reason;
};
// showsPages: the run will show pages in the browser engine (the interactive window); quiet runs
// never load it. Only the interactive window needs a display.
StartupProblem startupProblem(bool showsPages);

// Without a display (neither DISPLAY nor WAYLAND_DISPLAY) and no platform chosen by the caller,
// selects Qt's offscreen platform: the window object still exists, nothing is shown. Call before
// the application object is made. True when it did.
bool useOffscreenWithoutDisplay();

// From now on a fatal Qt message prints "renewel: Qt: <message>" and ends the program with
// status 1 (instead of an abort that prints nothing once standard error is quietened).
void ReportFatalMessages();
