#pragma once
// Unsigned decimal numbers as files and headers write them: digits only (no sign, no blanks), at
// most 18 of them, so the value always fits in 64 bits.

#include <QByteArrayView>

#include <optional>

std::optional<qint64> parseDigits(QByteArrayView text);
