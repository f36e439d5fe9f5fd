#pragma once
// A stand-in for the update window: records what the run shows and asks for, and wires the
// download component the way the window does (BinaryData and WaitThread true; its error event
// shows "Error" unless quiet and asks the application to end).

#include "HTTPGet.h"
#include "UpdateHost.h"

#include <QByteArray>
#include <QList>

#include <functional>

class RecordingHost : public UpdateHost {
public:
    RecordingHost();

    void SetStatus(const QByteArray& text) override;
    void SetOverallMax(int max) override;
    void SetOverallPosition(int position) override;
    void ProcessMessages() override;
    THTTPGet& GetFile() override { return getFile; }
    void ShowMessage(const QByteArray& text) override;
    void Terminate() override;

    // Everything in order: "status <text>", "max <n>", "GetFileError", "message <text>",
    // "terminate". Positions are kept apart.
    QList<QByteArray> events;
    QList<QByteArray> statuses;
    QList<int> positions;
    QList<QByteArray> messages;
    int terminates = 0;
    // Runs inside each ProcessMessages call (to start a second run in the middle of one).
    std::function<void()> onProcessMessages;

    THTTPGet getFile;

private:
    void GetFileError();
};
