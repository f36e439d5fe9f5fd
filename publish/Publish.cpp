#include "Publish.h"

#include "FileCopy.h"
#include "MinisignTool.h"
#include "OtherFiles.h"
#include "PublishError.h"
#include "ReleaseFiles.h"
#include "SiteLayout.h"
#include "StopPoint.h"
#include "site/SiteFiles.h"
#include "site/Sums.h"
#include "site/TrustedFields.h"
#include "site/UpdateList.h"
#include "trust/Sha256.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>


namespace {

QString canonicalOrClean(const QString& path)
{
    const QFileInfo info(path);
    return info.exists() ? info.canonicalFilePath() : QDir::cleanPath(info.absoluteFilePath());
}

bool isInside(const QString& path, const QString& folder)
{
    return path == folder || path.startsWith(folder.endsWith('/') ? folder : folder + '/');
}

void checkOptions(const PublishOptions& options, const SiteLayout& layout)
{
    if (!QFileInfo(options.releaseDir).isDir())
        throw PublishError{options.releaseDir, QStringLiteral("not a folder")};
    const QString release = canonicalOrClean(options.releaseDir);
    if (isInside(layout.site(), release) || isInside(layout.releases(), release))
        throw PublishError{options.siteDir, QStringLiteral("the site folder must not be the release folder or inside it")};
    // Publishing replaces the site's folders, the release's files with them.
    for (const QString& site : {layout.site(), layout.releases(), canonicalOrClean(layout.site())}) {
        if (isInside(release, site))
            throw PublishError{options.releaseDir, QStringLiteral("the release folder must not be inside the site folder")};
    }
    if (!options.secretKey.isEmpty()) {
        const QFileInfo key(options.secretKey);
        if (!key.isFile() || !key.isReadable())
            throw PublishError{options.secretKey, QStringLiteral("no readable secret key file")};
    }
}

// The current site's copy of a release file when its bytes are the release's, so that the new
// release shares it by a hard link instead of holding a second copy.
bool unchanged(const QString& current, const ReleaseFile& file)
{
    if (current.isEmpty())
        return false;
    const QString old = current + '/' + file.relative;
    const QFileInfo info(old);
    if (info.isSymLink() || !info.isFile() || info.size() != QFileInfo(file.source).size())
        return false;
    const ::Result<QByteArray> oldDigest = sha256OfFile(old);
    const ::Result<QByteArray> newDigest = sha256OfFile(file.source);
    return oldDigest && newDigest && *oldDigest == *newDigest;
}

// Fills the new release folder: the release's files, the site's other files, the list files.
PublishSummary build(const PublishOptions& options, const QList<ReleaseFile>& files,
                     const QList<QByteArray>& others, const QString& current, const QDir& target,
                     const QString& tool)
{
    const QDateTime date = QDateTime::fromSecsSinceEpoch(options.now, Qt::UTC);
    const QByteArray firstLine = "Ironvale 3D update list, published "
        + date.toString(QStringLiteral("yyyy-MM-dd HH:mm:ss")).toLatin1() + " UTC";
    QList<TUpdateEntry> entries;
    QByteArray sums;
    PublishSummary summary;
    for (const ReleaseFile& file : files) {
        qint64 size = 0;
        QByteArray digest;
        if (unchanged(current, file)) {
            linkOrCopy(QFile::encodeName(current + '/' + file.relative), QFile::encodeName(target.filePath(file.relative)));
            const ::Result<QByteArray> linked = sha256OfFile(target.filePath(file.relative));
            if (!linked)
                throw PublishError{target.filePath(file.relative), linked.error()};
            digest = *linked;
            size = QFileInfo(target.filePath(file.relative)).size();
        } else {
            digest = copyHashed(file.source, target.filePath(file.relative), size);
        }
        entries.append({file.listed, ListedPath(file.listed), size});
        sums += Sums::formatLine(digest, file.listed);
        ++summary.files;
        summary.bytes += size;
        stopPoint("copying");
    }
    const QByteArray from = QFile::encodeName(current) + '/';
    const QByteArray to = QFile::encodeName(target.path()) + '/';
    for (const QByteArray& other : others)
        linkOrCopy(from + other, to + other);

    const QByteArray list = WriteUpdateList(firstLine, entries);
    sums.prepend(Sums::formatLine(Sha256::hash(list), SiteFile::List.toLatin1()));
    writeNewFile(target.filePath(SiteFile::List), list);
    writeNewFile(target.filePath(SiteFile::Sums), sums);
    if (!tool.isEmpty()) {
        TrustedFields fields;
        fields.timestamp = options.now;
        if (options.expiresDays > 0)
            fields.expires = options.now + qint64(options.expiresDays) * 86400;
        signWithMinisign(tool, options.secretKey, target.filePath(SiteFile::Sums),
                         target.filePath(SiteFile::Signature), fields.format());
    }
    return summary;
}

}  // namespace

PublishSummary publishRelease(const PublishOptions& options)
{
    // Everything that can be checked is checked before the first write.
    SiteLayout layout(options.siteDir);
    checkOptions(options, layout);
    const QList<ReleaseFile> files = scanRelease(options.releaseDir);
    const QList<QByteArray> others = otherSiteFiles(layout.current(), files);
    const QString tool = options.secretKey.isEmpty() ? QString() : findMinisign();

    layout.prepare();
    const QString release = layout.newRelease(options.now);
    PublishSummary summary;
    try {
        summary = build(options, files, others, layout.current(), QDir(release), tool);
        syncFileSystem(release);
    } catch (...) {
        layout.abandon(release);
        throw;
    }
    stopPoint("built");
    layout.switchTo(release);
    return summary;
}
