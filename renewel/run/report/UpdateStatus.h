#pragma once
// The status line's texts at each stage of a run, from the language table.

#include <QByteArray>

class LanguageList;

// "<STatus2> update.txt ..."
QByteArray FetchingListStatus(const LanguageList& texts);
// "<STatus3>"
QByteArray CheckingStatus(const LanguageList& texts);
// "<STatus2> <path> ... [index\count]"
QByteArray EntryStatus(const LanguageList& texts, qsizetype index, qsizetype count, const QByteArray& listed);
