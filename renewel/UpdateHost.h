#pragma once
// What the update run needs from the window that hosts it: the status line, the progress bars,
// a chance to handle pending messages, message boxes, and ending the application. The update
// window implements it; tests use a stand-in that records the calls. Texts are single-byte
// (language file and update list bytes); the host decodes them for display.

#include <QByteArray>
#include <QString>

class UpdateHost {
public:
    virtual ~UpdateHost() = default;

    // The status line (Label1).
    virtual void SetStatus(const QByteArray& text) = 0;
    // The overall progress bar (ProgressBar2).
    virtual void SetOverallMax(int max) = 0;
    virtual void SetOverallPosition(int position) = 0;
    // The current file's progress bar (ProgressBar1).
    virtual void SetFileProgress(qint64 total, qint64 readed) = 0;
    // Lets the window handle its pending messages once (repaints, progress, input).
    virtual void ProcessMessages() = 0;
    // A plain message box with the application's title as caption and one OK button; returns
    // when it has been closed.
    virtual void ShowMessage(const QByteArray& text) = 0;
    // The general error report (stop icon, the message with its full stop); returns when closed.
    virtual void ShowErrorReport(const QString& message) = 0;
    // Asks the application to end.
    virtual void Terminate() = 0;
};
