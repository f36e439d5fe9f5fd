#include "patch/PatchName.h"

QString patchFileName(const QByteArray& oldHash, const QByteArray& newHash)
{
    return QStringLiteral("patches/%1-%2.patch")
        .arg(QLatin1StringView(oldHash.toHex()), QLatin1StringView(newHash.toHex()));
}

QString patchSiteName(const QByteArray& oldHash, const QByteArray& newHash)
{
    return QStringLiteral("chunks/") + patchFileName(oldHash, newHash);
}
