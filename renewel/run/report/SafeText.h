#pragma once
// Text as renewel prints and shows it: passwords in addresses masked ("http://user:pw@host/"
// becomes "http://***@host/"), and every character that could break a line or drive a terminal
// escaped, so that one line stays one line for a reader that splits at Unicode line breaks.
// Escaped: C0 controls (\r, \n, \t, else \xHH), DEL (\x7f), C1 controls (\u0085, or \xHH for a
// lone byte 0x80-0x9F that is no UTF-8), U+2028 and U+2029 (\u2028, \u2029). Other bytes pass
// unchanged, Windows-1252 names included; backslashes stay as they are (listed paths use them).

#include <QByteArray>
#include <QString>

QByteArray SafeText(const QByteArray& bytes);
QString SafeText(const QString& text);
