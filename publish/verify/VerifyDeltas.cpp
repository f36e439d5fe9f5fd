#include "verify/VerifyDeltas.h"

#include "common/SiteFileReading.h"
#include "chunk/ChunkIndexDelta.h"
#include "chunk/ChunkStore.h"
#include "trust/Sha256.h"

#include <QDir>
#include <QFile>

namespace {

// Why the delta does not rebuild the listed index; empty when it does or can't be checked.
QString deltaFault(const QString& siteDir, const QString& delta, const ListedIndex& listed)
{
    const QByteArray oldHash = QByteArray::fromHex(delta.section('.', 1, 1).mid(5).toLatin1());
    const Result<QByteArray> oldBytes = readSiteFile(siteDir + '/' + ChunkStore::indexName(oldHash), SiteFileLimit);
    if (oldHash.size() != Sha256::Size || !oldBytes)
        return {};
    const Result<ChunkIndex> old = ChunkIndex::parse(*oldBytes);
    if (!old)
        return {};
    const Result<QByteArray> bytes = readSiteFile(siteDir + '/' + ChunkStore::Folder + QStringLiteral("/index/") + delta,
                                                       oldBytes->size() + 64 + 40 * qint64(listed.fileSize + 1));
    if (!bytes)
        return bytes.error();
    const Result<ChunkIndex> rebuilt = applyDelta(*old, *oldBytes, *bytes);
    if (!rebuilt)
        return rebuilt.error();
    if (Sha256::hash(rebuilt->serialize()) != listed.hash)
        return QStringLiteral("does not rebuild the index update.sums lists");
    return {};
}

}  // namespace

void checkDeltas(const QString& siteDir, const QList<ListedIndex>& listed, SiteCheck& check)
{
    const QString folder = siteDir + '/' + ChunkStore::Folder + QStringLiteral("/index");
    for (const ListedIndex& index : listed) {
        const QString pattern = QString::fromLatin1(index.fileHash.toHex()) + QStringLiteral(".from-*.cidd");
        for (const QString& delta : QDir(folder).entryList({pattern}, QDir::Files | QDir::System)) {
            if (const QString fault = deltaFault(siteDir, delta, index); !fault.isEmpty())
                check.problems.append({QFile::encodeName(folder + '/' + delta), fault});
        }
    }
}
