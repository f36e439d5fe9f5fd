#pragma once
// Single-byte texts (language file, update list) are kept as bytes; on screen they are decoded
// as UTF-8 when the bytes are valid UTF-8, else as Windows-1252.

#include <QByteArray>
#include <QString>

QString displayText(const QByteArray& bytes);
