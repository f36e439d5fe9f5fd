#pragma once
// A stand-in for the update window: records what the run shows and asks for, and owns a download
// component set up the way the window's is (BinaryData and WaitThread true).

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
    void SetFileProgress(qint64 total, qint64 readed) override;
    void ProcessMessages() override;
    void ShowMessage(const QByteArray& text) override;
    void ShowErrorReport(const QString& message) override;
    void Terminate() override;

    // Everything in order: "status <text>", "max <n>", "message <text>", "report <text>",
    // "terminate". Positions and file progress are kept apart.
    QList<QByteArray> events;
    QList<QByteArray> statuses;
    QList<int> positions;
    QList<QByteArray> messages;
    int terminates = 0;
    // Runs inside each ProcessMessages call (to start a second run in the middle of one).
    std::function<void()> onProcessMessages;

    QList<qint64> fileProgress;  // readed of each call

    THTTPGet getFile;
};
