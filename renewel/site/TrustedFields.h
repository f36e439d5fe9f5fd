#pragma once
// The fields of a signed list's trusted comment that the updater reads: TEXT is a list of fields
// separated by spaces or tabs; "timestamp:N" and "expires:N" (Unix seconds) are read, others are
// ignored. renewel-publish writes them, renewel reads them.

#include "Result.h"

#include <QByteArray>
#include <QByteArrayView>

#include <optional>

struct TrustedFields {
    std::optional<qint64> timestamp;
    std::optional<qint64> expires;

    // The reason when one of the two fields is repeated or not a decimal number.
    static Result<TrustedFields> parse(QByteArrayView text);
    // "timestamp:N", and " expires:N" when set.
    QByteArray format() const;
};
