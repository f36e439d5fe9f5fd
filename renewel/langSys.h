#pragma once
// The language table: every text the updater shows, and its two web addresses, come from a
// language file beside the program ("renewel.lng"). Texts are single-byte and kept as bytes.
//
// File rules: lines as in LineReader; a line starting with "#" is an entry, every other line is a
// comment. The key runs from after the "#" to the first space (or the line end); the text is
// everything after that first space, kept exactly. A "#" alone yields no entry.

#include <QByteArray>
#include <QList>
#include <QString>

class QIODevice;

// Replaces the process-wide table with the entries of the file. Returns false when the file
// can't be opened or a read fails; the entries read before the failure stay in the table. The
// caller shows the failure ("Translation file error!") and asks the application to end.
bool LoadLanguageFile(const QString& fileName);
// The same from an open device (the caller keeps it).
bool LoadLanguageFile(QIODevice& source);

// The text of the last entry whose key equals key, ignoring the case of A-Z only; "[error]"
// when there is none.
QByteArray Translate(const QByteArray& key);

// The table itself: key, text, key, text, ... in file order (duplicates kept).
const QList<QByteArray>& LanguageTable();
