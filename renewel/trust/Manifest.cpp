#include "trust/Manifest.h"

#include "trust/Minisign.h"
#include "trust/Sha256.h"
#include "site/TrustedFields.h"

#include "Text.h"

namespace {
Result<SignedList> refuse(const QString& reason) { return Result<SignedList>::failure(reason); }
}  // namespace

Result<SignedList> checkSignedList(const SignedListInput& input)
{
    const Result<MinisignPublicKey> key = MinisignPublicKey::parse(input.keyLine);
    if (!key)
        return refuse(QStringLiteral("invalid UpdateKey in the language file (%1)").arg(key.error()));
    if (input.signature.isEmpty())
        return refuse(QStringLiteral("no signature (update.sums.minisig missing or empty)"));
    const Result<MinisignSignature> signature = MinisignSignature::parse(input.signature);
    if (!signature)
        return refuse(QStringLiteral("malformed signature file (%1)").arg(signature.error()));

    switch (verifyMinisign(*key, *signature, input.sums)) {
    case MinisignCheck::Valid:
        break;
    case MinisignCheck::WrongKey:
        return refuse(QStringLiteral("wrong key (signed with %1, expected %2)")
                          .arg(minisignKeyIdText(signature->keyId), minisignKeyIdText(key->keyId)));
    case MinisignCheck::BadSignature:
        return refuse(QStringLiteral("bad signature"));
    case MinisignCheck::BadTrustedComment:
        return refuse(QStringLiteral("bad signature of the trusted comment"));
    }

    // From here on every byte is the signer's.
    const Result<TrustedFields> fields = TrustedFields::parse(signature->trustedComment);
    if (!fields)
        return refuse(fields.error());
    if (!fields->timestamp)
        return refuse(QStringLiteral("no timestamp in the trusted comment"));
    if (input.storedTimestamp && *fields->timestamp < *input.storedTimestamp)
        return refuse(QStringLiteral("replayed list (timestamp %1 older than %2)")
                          .arg(*fields->timestamp)
                          .arg(*input.storedTimestamp));
    if (fields->expires && *fields->expires <= input.now)
        return refuse(QStringLiteral("expired list (expired at %1, now %2)")
                          .arg(*fields->expires)
                          .arg(input.now));

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
