#pragma once
// What must hold before the window can be made, checked up front so that a failure prints its
// one line instead of dying silently: a display to show it on, and a browser engine that will
// start. Fatal messages of Qt itself become a failure line too.

#include <QString>

struct StartupProblem {
    QString subject;  // "display" or "browser"; empty when there is none
    QString reason;
};
// showsPages: the run will show pages in the browser engine (the interactive window); quiet runs
// never load it.
StartupProblem startupProblem(bool showsPages);

// From now on a fatal Qt message prints "renewel: Qt: <message>" and ends the program with
// status 1 (instead of an abort that prints nothing once standard error is quietened).
void ReportFatalMessages();
