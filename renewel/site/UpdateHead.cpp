#include "site/UpdateHead.h"

#include "site/SiteFiles.h"
#include "site/Sums.h"

QByteArray UpdateHead::signedPartFor(const QByteArray& listDigest, const QByteArray& sumsDigest)
{
    return Sums::formatLine(listDigest, SiteFile::List.toLatin1()) +
           Sums::formatLine(sumsDigest, SiteFile::Sums.toLatin1());
}

Result<UpdateHead> UpdateHead::parse(QByteArrayView file)
{
    const QByteArray bytes = file.toByteArray();
    const qsizetype at = bytes.startsWith("untrusted comment:") ? 0 : bytes.indexOf("\nuntrusted comment:");
    if (at < 0)
        return Result<UpdateHead>::failure(QStringLiteral("no signature in the head"));
    UpdateHead head;
    head.signedPart = bytes.left(at == 0 ? 0 : at + 1);
    head.signature = bytes.mid(at == 0 ? 0 : at + 1);
    Result<Sums> sums = Sums::parse(head.signedPart);
    if (!sums)
        return Result<UpdateHead>::failure(QStringLiteral("malformed head (%1)").arg(sums.error()));
    const std::optional<QByteArray> list = sums->digest(SiteFile::List.toLatin1());
    const std::optional<QByteArray> sumsDigest = sums->digest(SiteFile::Sums.toLatin1());
    if (!list || !sumsDigest)
        return Result<UpdateHead>::failure(QStringLiteral("malformed head (a list's digest is missing)"));
    head.listDigest = *list;
    head.sumsDigest = *sumsDigest;
    return head;
}
