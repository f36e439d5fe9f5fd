#pragma once
// What the update run needs from the window that hosts it. The update window implements this;
// tests use a recording stand-in. Texts are single-byte (language file and update list bytes);
// the host decodes them for display.

#include <QByteArray>

class THTTPGet;

class UpdateHost {
public:
    virtual ~UpdateHost() = default;

    // The status line (Label1).
    virtual void SetStatus(const QByteArray& text) = 0;
    // The overall progress bar (ProgressBar2).
    virtual void SetOverallMax(int max) = 0;
    virtual void SetOverallPosition(int position) = 0;
    // Lets the window handle its pending messages once (repaints, progress, input).
    virtual void ProcessMessages() = 0;
    // The window's download component, set up with BinaryData and WaitThread true and with the
    // window's progress and error events (the error event shows "Error" unless quiet and asks
    // the application to end).
    virtual THTTPGet& GetFile() = 0;
    // A plain message box with the application's title as caption and one OK button; returns
    // when it has been closed.
    virtual void ShowMessage(const QByteArray& text) = 0;
    // Asks the application to end.
    virtual void Terminate() = 0;
};
