#include "run/report/UpdateStatus.h"

#include "run/lang/langSys.h"
#include "run/report/FailureLine.h"
#include "SafeText.h"
#include "site/SiteFiles.h"

#include "Text.h"

QByteArray FetchingListStatus(const LanguageList& texts)
{
    return texts.Translate("STatus2") + ' ' + SiteFile::List.toLatin1() + " ...";
}

QByteArray CheckingStatus(const LanguageList& texts) { return texts.Translate("STatus3"); }

QByteArray EntryStatus(const LanguageList& texts, qsizetype index, qsizetype count, const QByteArray& listed)
{
    return texts.Translate("STatus2") + ' ' + listed + " ... [" + QByteArray::number(index) + '\\' +
           QByteArray::number(count) + ']';
}

QString EndStatus(const LanguageList& texts, const UpdateOutcome& outcome)
{
    switch (outcome.kind) {
    case UpdateOutcome::Completed: return SafeText(displayText(texts.Translate("Done")));
    case UpdateOutcome::Failed: return FailureText(outcome.subject, outcome.reason);
    default: return {};
    }
}

QString ErrorBoxText(const LanguageList& texts, const UpdateOutcome& outcome)
{
    const QString error = displayText(texts.Translate("Error"));
    if (outcome.kind != UpdateOutcome::Failed)
        return error;
    return error + QStringLiteral("\n\n") + FailureText(outcome.subject, outcome.reason);
}
