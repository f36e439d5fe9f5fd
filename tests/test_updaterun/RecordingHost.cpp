#include "RecordingHost.h"

#include "Application.h"

RecordingHost::RecordingHost()
{
    getFile.BinaryData = true;
    getFile.WaitThread = true;
    getFile.OnProgress = [this](QObject*, qint64 total, qint64 readed) { SetFileProgress(total, readed); };
}

void RecordingHost::SetStatus(const QByteArray& text)
{
    statuses << text;
    events << "status " + text;
}

void RecordingHost::SetOverallMax(int max) { events << "max " + QByteArray::number(max); }

void RecordingHost::SetOverallPosition(int position) { positions << position; }

void RecordingHost::ProcessMessages()
{
    TApplication::ProcessMessages();
    if (onProcessMessages)
        onProcessMessages();
}

void RecordingHost::ShowMessage(const QByteArray& text)
{
    messages << text;
    events << "message " + text;
}

void RecordingHost::Terminate()
{
    ++terminates;
    events << "terminate";
}

void RecordingHost::SetFileProgress(qint64, qint64 readed) { fileProgress << readed; }

void RecordingHost::ShowErrorReport(const QString& message) { events << "report " + message.toUtf8(); }
