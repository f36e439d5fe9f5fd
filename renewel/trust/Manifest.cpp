#include "trust/Manifest.h"

#include "trust/Minisign.h"
#include "trust/Sha256.h"
#include "site/TrustedFields.h"

#include "Text.h"

namespace {
Result<SignedList> refuse(const QString& reason) { return Result<SignedList>::failure(reason); }

// From here on every byte is the signer's: the timestamp keeps its order, the expiry its time.
Result<TrustedFields> checkFields(const QByteArray& comment, std::optional<qint64> storedTimestamp, qint64 now)
{
    using Fields = Result<TrustedFields>;
    const Result<TrustedFields> fields = TrustedFields::parse(comment);
    if (!fields)
        return fields;
    if (!fields->timestamp)
        return Fields::failure(QStringLiteral("no timestamp in the trusted comment"));
    if (storedTimestamp && *fields->timestamp < *storedTimestamp)
        return Fields::failure(QStringLiteral("replayed list (timestamp %1 older than %2)")
                                   .arg(*fields->timestamp)
                                   .arg(*storedTimestamp));
    if (fields->expires && *fields->expires <= now)
        return Fields::failure(QStringLiteral("expired list (expired at %1, now %2)").arg(*fields->expires).arg(now));
    return fields;
}
}  // namespace

Result<TrustedFields> checkSignedFields(const QByteArray& keyLine, const QByteArray& signatureFile,
                                        const QByteArray& message, std::optional<qint64> storedTimestamp, qint64 now,
                                        const QString& subject)
{
    using Fields = Result<TrustedFields>;
    const Result<MinisignPublicKey> key = MinisignPublicKey::parse(keyLine);
    if (!key)
        return Fields::failure(QStringLiteral("invalid UpdateKey in the language file (%1)").arg(key.error()));
    if (signatureFile.isEmpty())
        return Fields::failure(QStringLiteral("no signature (%1 missing or empty)").arg(subject));
    const Result<MinisignSignature> signature = MinisignSignature::parse(signatureFile);
    if (!signature)
        return Fields::failure(QStringLiteral("malformed signature file (%1)").arg(signature.error()));

    switch (verifyMinisign(*key, *signature, message)) {
    case MinisignCheck::Valid:
        break;
    case MinisignCheck::WrongKey:
        return Fields::failure(QStringLiteral("wrong key (signed with %1, expected %2)")
                                   .arg(minisignKeyIdText(signature->keyId), minisignKeyIdText(key->keyId)));
    case MinisignCheck::BadSignature:
        return Fields::failure(QStringLiteral("bad signature"));
    case MinisignCheck::BadTrustedComment:
        return Fields::failure(QStringLiteral("bad signature of the trusted comment"));
    }
    return checkFields(signature->trustedComment, storedTimestamp, now);
}

Result<SignedList> checkSignedList(const SignedListInput& input)
{
    const Result<TrustedFields> fields = checkSignedFields(input.keyLine, input.signature, input.sums,
                                                           input.storedTimestamp, input.now, QStringLiteral("update.sums.minisig"));
    if (!fields)
        return refuse(fields.error());

    Result<Sums> sums = Sums::parse(input.sums);
    if (!sums)
        return refuse(QStringLiteral("malformed update.sums (%1)").arg(sums.error()));
    const std::optional<QByteArray> listDigest = sums->digest("update.txt");
    if (!listDigest)
        return refuse(QStringLiteral("no checksum for update.txt"));
    if (Sha256::hash(input.updateList) != *listDigest)
        return refuse(QStringLiteral("update.txt does not match its checksum"));
    return SignedList{std::move(sums).value(), *fields->timestamp, fields->expires};
}

Status checkListed(const Sums& sums, const QList<QByteArray>& listedPaths)
{
    for (const QByteArray& path : listedPaths) {
        if (!sums.contains(path))
            return Status::failure(QStringLiteral("no checksum for %1").arg(displayText(path)));
    }
    return {};
}
