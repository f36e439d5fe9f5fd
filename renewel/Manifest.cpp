#include "Manifest.h"

#include "Minisign.h"
#include "Sha256.h"
#include "Text.h"

namespace {
SignedListVerdict refuse(const QString& reason)
{
    SignedListVerdict verdict;
    verdict.reason = reason;
    return verdict;
}
}  // namespace

SignedListVerdict checkSignedList(const SignedListInput& input)
{
    QString why;
    const std::optional<MinisignPublicKey> key = MinisignPublicKey::parse(input.keyLine, &why);
    if (!key)
        return refuse(QStringLiteral("invalid UpdateKey in the language file (%1)").arg(why));
    if (input.signature.isEmpty())
        return refuse(QStringLiteral("no signature (update.sums.minisig missing or empty)"));
    const std::optional<MinisignSignature> signature = MinisignSignature::parse(input.signature, &why);
    if (!signature)
        return refuse(QStringLiteral("malformed signature file (%1)").arg(why));

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
    const std::optional<TrustedFields> fields = TrustedFields::parse(signature->trustedComment, &why);
    if (!fields)
        return refuse(why);
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

    std::optional<Sums> sums = Sums::parse(input.sums, &why);
    if (!sums)
        return refuse(QStringLiteral("malformed update.sums (%1)").arg(why));
    const std::optional<QByteArray> listDigest = sums->digest("update.txt");
    if (!listDigest)
        return refuse(QStringLiteral("no checksum for update.txt"));
    if (Sha256::hash(input.updateList) != *listDigest)
        return refuse(QStringLiteral("update.txt does not match its checksum"));
    for (const QByteArray& path : input.listedPaths) {
        if (!sums->contains(path))
            return refuse(QStringLiteral("no checksum for %1").arg(displayText(path)));
    }

    SignedListVerdict verdict;
    verdict.accepted = true;
    verdict.sums = std::move(*sums);
    verdict.timestamp = *fields->timestamp;
    verdict.expires = fields->expires;
    return verdict;
}
