#pragma once
// Text as the programs print and show it: passwords in addresses masked ("http://user:pw@host/"
// becomes "http://***@host/"), and every character that could break a line or drive a terminal
// escaped, so that one line stays one line for a reader that splits at Unicode line breaks.
// Escaped: C0 controls (\r, \n, \t, else \xHH), DEL (\x7f), C1 controls (\u0085, or \xHH for a
// lone byte 0x80-0x9F that is no UTF-8), U+2028 and U+2029 (\u2028, \u2029). Backslashes stay as
// they are (listed paths use them), so escaping twice changes nothing.

#include <QByteArray>
#include <QString>

// The other bytes that are no UTF-8: kept (renewel shows Windows-1252 names as they are), or
// escaped as \xHH (renewel-publish names the exact bytes of a file name).
enum class StrayBytes { Keep, Escape };

QByteArray SafeText(const QByteArray& bytes, StrayBytes stray = StrayBytes::Keep);
QString SafeText(const QString& text);
