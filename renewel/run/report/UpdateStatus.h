#pragma once
// The status line's texts at each stage of a run, from the language table, and how a run's end is
// shown: in the status line, then in the box over it.

#include "run/report/UpdateOutcome.h"

#include <QByteArray>
#include <QString>

class LanguageList;

// "<STatus2> update.txt ..."
QByteArray FetchingListStatus(const LanguageList& texts);
// "<STatus3>": the list has been received and accepted.
QByteArray CheckingStatus(const LanguageList& texts);
// "<STatus2> <path> ... [index\count]"
QByteArray EntryStatus(const LanguageList& texts, qsizetype index, qsizetype count, const QByteArray& listed);

// The status line once a run has ended: "<Done>" when it completed, the failure line's words
// ("<file or address>: <reason>") when it failed; empty when there is nothing to say.
QString EndStatus(const LanguageList& texts, const UpdateOutcome& outcome);
// The text of the box that ends a failed run: "<Error>", then why on a paragraph of its own.
QString ErrorBoxText(const LanguageList& texts, const UpdateOutcome& outcome);
