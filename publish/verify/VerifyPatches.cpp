#include "verify/VerifyPatches.h"

#include "common/SiteFileReading.h"
#include "patch/PatchHeader.h"
#include "patch/PatchName.h"
#include "site/Sums.h"
#include "site/UpdateList.h"
#include "trust/Sha256.h"

#include <QFile>
#include <QHash>

namespace {

const QByteArray Prefix = "chunks/patches/";

// Why the patch is not one a player can use; empty when it is.
QString patchFault(const QString& path, const QByteArray& name, const Sums& sums, const QHash<QByteArray, qint64>& sizes)
{
    const QList<QByteArray> hashes = name.mid(Prefix.size()).chopped(QByteArray(".patch").size()).split('-');
    const QByteArray oldHash = QByteArray::fromHex(hashes.value(0));
    const QByteArray newHash = QByteArray::fromHex(hashes.value(1));
    if (hashes.size() != 2 || patchSiteName(oldHash, newHash).toLatin1() != name || !sizes.contains(newHash))
        return QStringLiteral("turns into no listed file's content");
    const Result<QByteArray> bytes = readSiteFile(path, sizes.value(newHash));
    if (!bytes)
        return bytes.error();
    if (Sha256::hash(*bytes) != sums.digest(name))
        return QStringLiteral("does not match its checksum in update.sums");
    const Result<PatchHeader> header = PatchHeader::parse(*bytes);
    if (!header)
        return header.error();
    if (header->oldHash != oldHash || header->newHash != newHash)
        return QStringLiteral("is not the patch its name says");
    return {};
}

}  // namespace

void checkPatches(const QString& siteDir, const UpdateListEntries& list, const Sums& sums, SiteCheck& check)
{
    QHash<QByteArray, qint64> sizes;  // the listed contents by SHA-256
    for (const UpdateEntry& entry : list.entries)
        if (const std::optional<QByteArray> digest = sums.digest(entry.listed))
            sizes.insert(*digest, entry.size);
    for (const QByteArray& name : sums.names()) {
        if (!name.startsWith(Prefix))
            continue;
        const QString path = siteDir + '/' + QString::fromLatin1(name);
        if (const QString fault = patchFault(path, name, sums, sizes); !fault.isEmpty())
            check.problems.append({QFile::encodeName(path), fault});
    }
}
