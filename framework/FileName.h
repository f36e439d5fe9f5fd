#pragma once
// File names as the system gives them: bytes, usually UTF-8 but not always. A QString made with
// fileNameFromBytes keeps every byte: valid UTF-8 is decoded as usual, and each byte that is not
// part of valid UTF-8 becomes the lone surrogate U+DC80 + (byte - 0x80), which valid UTF-8 never
// decodes to. fileNameBytes turns such a name back into exactly the bytes it came from, so a
// name from the command line opens, prints and is written under its own bytes.

#include <QByteArray>
#include <QString>

QString fileNameFromBytes(const QByteArray& bytes);
QByteArray fileNameBytes(const QString& name);
