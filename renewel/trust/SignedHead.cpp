#include "trust/SignedHead.h"

#include "trust/Manifest.h"
#include "trust/Sha256.h"

Result<SignedHead> checkSignedHead(const QByteArray& file, const QByteArray& keyLine,
                                   std::optional<qint64> storedTimestamp, qint64 now)
{
    Result<UpdateHead> head = UpdateHead::parse(file);
    if (!head)
        return Result<SignedHead>::failure(head.error());
    const Result<TrustedFields> fields = checkSignedFields(keyLine, head->signature, head->signedPart,
                                                           storedTimestamp, now, QStringLiteral("update.head"));
    if (!fields)
        return Result<SignedHead>::failure(fields.error());
    return SignedHead{std::move(head).value(), *fields->timestamp};
}

Status checkHeadNames(const UpdateHead& head, const QByteArray& list, const QByteArray& sums)
{
    if (Sha256::hash(list) != head.listDigest)
        return Status::failure(QStringLiteral("update.txt is not the list update.head names"));
    if (Sha256::hash(sums) != head.sumsDigest)
        return Status::failure(QStringLiteral("update.sums is not the list update.head names"));
    return {};
}

Result<SignedList> checkHeadedList(const SignedHead& head, const QByteArray& list, const QByteArray& sums)
{
    if (const Status named = checkHeadNames(head.head, list, sums); !named)
        return Result<SignedList>::failure(named.error());
    Result<Sums> parsed = Sums::parse(sums);
    if (!parsed)
        return Result<SignedList>::failure(QStringLiteral("malformed update.sums (%1)").arg(parsed.error()));
    return SignedList{std::move(parsed).value(), head.timestamp, std::nullopt};
}
