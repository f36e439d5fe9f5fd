#pragma once
// A stand-in for the update window: records what the run reports and, given the outcome, what the
// window would show; owns a download component set up the way the window's is (BinaryData and
// WaitThread true).

#include "net/HTTPGet.h"
#include "run/report/UpdateHost.h"
#include "run/report/UpdateOutcome.h"

#include <QByteArray>
#include <QList>

#include <functional>

class RecordingHost : public UpdateHost {
public:
    RecordingHost();

    void listStageReached(ListStage stage) override;
    void listRead(qsizetype entries) override;
    void entryReached(qsizetype index, qsizetype count, const QByteArray& listed) override;
    void fileProgress(qint64 total, qint64 readed) override;
    void runPlanned(qsizetype files, qint64 bytes) override { totals << bytes, (void)files; }
    void runProgress(qint64 done, qint64) override { runBytes << done; }
    // What the window does with an outcome, recorded.
    void present(const UpdateOutcome& outcome);

    // Everything in order: "status <text>", "max <n>", "message <text>", "report <text>",
    // "terminate". Positions and file progress are kept apart.
    QList<QByteArray> events;
    QList<QByteArray> statuses;
    QList<int> positions;
    QList<QByteArray> messages;
    int terminates = 0;
    // Runs where the window handles its pending messages (to start a second run in one).
    std::function<void()> onProcessMessages;

    QList<qint64> readed;  // of each file progress call
    QList<qint64> totals;     // the run's planned bytes, each time told
    QList<qint64> runBytes;   // the run's bytes done, each time told

    THTTPGet getFile;

private:
    void status(const QByteArray& text);
    void processMessages();
};
