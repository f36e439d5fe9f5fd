#include "RecordingHost.h"

#include "Application.h"
#include "QuietMode.h"
#include "langSys.h"

RecordingHost::RecordingHost()
{
    getFile.BinaryData = true;
    getFile.WaitThread = true;
    getFile.OnError = [this](QObject*) { GetFileError(); };
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

void RecordingHost::GetFileError()
{
    events << "GetFileError";
    if (!QuietMode)
        ShowMessage(Translate("Error"));
    Terminate();
}
