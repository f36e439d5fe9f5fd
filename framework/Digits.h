#pragma once
// Unsigned decimal numbers as files and headers write them: digits only (no sign, no blanks), at
// most 18 of them, so the value always fits in 64 bits.

#include <QByteArray>
#include <QByteArrayView>

#include <optional>

std::optional<qint64> parseDigits(QByteArrayView text);

// Lowercase hexadecimal digits (two per byte) to bytes; nothing when another character is there
// or the count is odd.
std::optional<QByteArray> parseLowerHex(QByteArrayView hex);
