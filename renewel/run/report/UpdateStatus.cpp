#include "run/report/UpdateStatus.h"

#include "run/lang/langSys.h"
#include "site/SiteFiles.h"

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
