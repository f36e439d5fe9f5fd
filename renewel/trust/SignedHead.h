#pragma once
// Whether to believe an update.head: its signed part verifies with the key like update.sums
// does (same replay and expiry rules on its trusted comment), and later, that the lists fetched
// are the ones it names.

#include "site/UpdateHead.h"
#include "trust/Manifest.h"

#include "Result.h"

#include <QByteArray>

#include <optional>

struct SignedHead {
    UpdateHead head;
    qint64 timestamp = 0;  // of its trusted comment, to be stored as the stamp
};

Result<SignedHead> checkSignedHead(const QByteArray& file, const QByteArray& keyLine,
                                   std::optional<qint64> storedTimestamp, qint64 now);

// The reason when update.txt or update.sums is not what the head names.
Status checkHeadNames(const UpdateHead& head, const QByteArray& list, const QByteArray& sums);

// The lists a believed head names, taken on the head's signature alone (it covers their digests,
// under the same replay and expiry rules as update.sums.minisig), so that the list's own
// signature need not be fetched: the reason when they are not the head's or update.sums is
// malformed.
Result<SignedList> checkHeadedList(const SignedHead& head, const QByteArray& list, const QByteArray& sums);
