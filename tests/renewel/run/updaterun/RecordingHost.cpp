#include "RecordingHost.h"

#include "run/report/UpdateStatus.h"
#include "run/lang/langSys.h"

#include "Application.h"

RecordingHost::RecordingHost()
{
    getFile.BinaryData = true;
    getFile.WaitThread = true;
    getFile.OnProgress = [this](QObject*, qint64 total, qint64 readed) { fileProgress(total, readed); };
}

void RecordingHost::status(const QByteArray& text)
{
    statuses << text;
    events << "status " + text;
}

void RecordingHost::processMessages()
{
    TApplication::ProcessMessages();
    if (onProcessMessages)
        onProcessMessages();
}

void RecordingHost::listStageReached(ListStage stage)
{
    if (stage == ListStage::Fetching) {
        status(FetchingListStatus(LanguageTable()));
        processMessages();
    } else {
        status(CheckingStatus(LanguageTable()));
    }
}

void RecordingHost::listRead(qsizetype entries)
{
    positions << 0;
    events << "max " + QByteArray::number(entries * 2);
}

void RecordingHost::entryReached(qsizetype index, qsizetype count, const QByteArray& listed)
{
    status(EntryStatus(LanguageTable(), index, count, listed));
    positions << int(index * 2);
    processMessages();
}

void RecordingHost::fileProgress(qint64, qint64 bytes) { readed << bytes; }

void RecordingHost::present(const UpdateOutcome& outcome)
{
    QByteArray message;
    if (outcome.show == UpdateOutcome::ShowDone)
        message = Translate("Done");
    else if (outcome.show == UpdateOutcome::ShowError)
        message = Translate("Error");
    if (!message.isEmpty()) {
        messages << message;
        events << "message " + message;
    }
    if (outcome.show == UpdateOutcome::ShowReport)
        events << "report " + outcome.report.toUtf8();
    if (outcome.endProgram) {
        ++terminates;
        events << "terminate";
    }
}
