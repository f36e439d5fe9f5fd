#pragma once
// The status line's texts at each stage of a run, from the language table.

#include <QByteArray>

class TLanguageTable;

// "<STatus2> update.txt ..."
QByteArray FetchingListStatus(const TLanguageTable& texts);
// "<STatus3>"
QByteArray CheckingStatus(const TLanguageTable& texts);
// "<STatus2> <path> ... [index\count]"
QByteArray EntryStatus(const TLanguageTable& texts, qsizetype index, qsizetype count, const QByteArray& listed);
