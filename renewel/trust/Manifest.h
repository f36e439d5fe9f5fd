#pragma once
// Acceptance of a signed update list. The site holds, beside update.txt, its checksum list
// update.sums and a minisign signature of that list, update.sums.minisig. With the key from the
// language file ("#UpdateKey K"), a list is accepted only when
//   - the signature of update.sums and the global signature of its trusted comment verify with
//     the key (and the signature was made with that key),
//   - the trusted comment holds a timestamp not older than the one of the last accepted list,
//     and its "expires:", when present, lies in the future,
//   - update.txt's SHA-256 equals its line in update.sums,
//   - and (checkListed, once the list has been read) every listed path has a line.
// The reasons are short texts for the line "renewel: update.txt: <reason>".

#include "site/Sums.h"
#include "site/TrustedFields.h"

#include "Result.h"

#include <QByteArray>
#include <QList>
#include <QString>

#include <optional>

struct SignedListInput {
    QByteArray updateList;  // update.txt as downloaded
    QByteArray sums;        // update.sums
    QByteArray signature;   // update.sums.minisig
    QByteArray keyLine;     // the language file's UpdateKey text
    std::optional<qint64> storedTimestamp;  // from renewel.stamp
    qint64 now = 0;                         // Unix seconds
};

struct SignedList {
    Sums sums;
    qint64 timestamp = 0;  // to be stored in renewel.stamp
    std::optional<qint64> expires;
};

Result<SignedList> checkSignedList(const SignedListInput& input);

// The signature check a list and a head share: the signature of message and of its trusted
// comment verify with the key, and the comment's timestamp is neither older than the stored one
// nor past its "expires:". subject names the signature file in the reasons.
Result<TrustedFields> checkSignedFields(const QByteArray& keyLine, const QByteArray& signature, const QByteArray& message,
                                        std::optional<qint64> storedTimestamp, qint64 now, const QString& subject);

// Every listed path (as written in update.txt) must have its checksum.
Status checkListed(const Sums& sums, const QList<QByteArray>& listedPaths);
