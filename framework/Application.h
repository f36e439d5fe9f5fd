#pragma once
// The application object of both programs. It keeps exceptions from crossing Qt's event loop:
// any exception a handler lets out becomes the general error report (a modal box with the stop
// icon, the application title as caption, the message with a full stop appended when its last
// character sorts above ".", one OK button), and the program carries on.

#include "ErrorReport.h"

#include <QApplication>
#include <QString>

class TApplication : public QApplication {
    Q_OBJECT
public:
    TApplication(int& argc, char** argv);
    ~TApplication() override;

    // The current instance, or nullptr when the running application is not a TApplication.
    static TApplication* current();

    // The application's title: task-bar text and caption of its plain and error boxes.
    static QString title();
    static void setTitle(const QString& title);

    bool notify(QObject* receiver, QEvent* event) override;

    // The general error report for a message.
    static void ShowException(const QString& message);

    // Asks the application to end: the quit takes effect when the main message loop runs (also
    // when asked before that loop has started), and a request made inside a nested wait is kept
    // until the wait is over, never lost.
    static void Terminate();
    static bool Terminated();

    // Runs the main message loop until the application is asked to end; a quit asked for before
    // it started (during start-up, even inside a nested wait there) ends it at once.
    static int Run();

    // Lets the application handle all its pending events once.
    static void ProcessMessages();

private:
    static void deliverQuit();
};
