#include "Publish.h"

#include "MinisignTool.h"
#include "PublishError.h"
#include "ReleaseFiles.h"
#include "site/SiteFiles.h"
#include "site/Sums.h"
#include "site/TrustedFields.h"
#include "site/UpdateList.h"
#include "trust/Sha256.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>

#include <filesystem>
#include <system_error>

namespace {

const QString& ListName = SiteFile::List;
const QString& SumsName = SiteFile::Sums;
const QString& SignatureName = SiteFile::Signature;

QString absoluteClean(const QString& path)
{
    const QFileInfo info(path);
    return info.exists() ? info.canonicalFilePath() : QDir::cleanPath(info.absoluteFilePath());
}

bool isInside(const QString& path, const QString& folder)
{
    return path == folder || path.startsWith(folder.endsWith('/') ? folder : folder + '/');
}

// Refuses a site where a file would have to replace a folder, or a folder a file.
void checkSiteTarget(const QDir& site, const QString& relative)
{
    if (QFileInfo(site.filePath(relative)).isDir())
        throw PublishError{site.filePath(relative), QStringLiteral("a folder is in the way of the file")};
    QString folder = relative;
    while ((folder = QFileInfo(folder).path()) != QStringLiteral(".")) {
        const QFileInfo info(site.filePath(folder));
        if (info.exists() && !info.isDir())
            throw PublishError{site.filePath(folder), QStringLiteral("a file is in the way of the folder")};
    }
}

void checkOptions(const PublishOptions& options)
{
    if (!QFileInfo(options.releaseDir).isDir())
        throw PublishError{options.releaseDir, QStringLiteral("not a folder")};
    const QString release = absoluteClean(options.releaseDir);
    const QString site = absoluteClean(options.siteDir);
    if (isInside(site, release))
        throw PublishError{options.siteDir, QStringLiteral("the site folder must not be the release folder or inside it")};
    const QFileInfo siteInfo(site);
    if (siteInfo.exists() && !siteInfo.isDir())
        throw PublishError{options.siteDir, QStringLiteral("not a folder")};
    if (!options.secretKey.isEmpty()) {
        const QFileInfo key(options.secretKey);
        if (!key.isFile() || !key.isReadable())
            throw PublishError{options.secretKey, QStringLiteral("no readable secret key file")};
    }
}

void writeFile(const QString& path, const QByteArray& bytes)
{
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(bytes) != bytes.size() || !file.flush())
        throw PublishError{path, file.errorString()};
}

// Copies source to target and returns the SHA-256 of exactly the bytes written, and their count.
QByteArray copyHashed(const QString& source, const QString& target, qint64& size)
{
    QFile in(source);
    if (!in.open(QIODevice::ReadOnly | QIODevice::Unbuffered))
        throw PublishError{source, in.errorString()};
    QDir().mkpath(QFileInfo(target).path());
    QFile out(target);
    if (!out.open(QIODevice::WriteOnly | QIODevice::Unbuffered))
        throw PublishError{target, out.errorString()};
    QByteArray block(1024 * 1024, Qt::Uninitialized);
    Sha256 hasher;
    size = 0;
    for (;;) {
        const qint64 n = in.read(block.data(), block.size());
        if (n < 0)
            throw PublishError{source, in.errorString()};
        if (n == 0)
            break;
        if (out.write(block.constData(), n) != n)
            throw PublishError{target, out.errorString()};
        hasher.update(block.constData(), size_t(n));
        size += n;
    }
    return hasher.final();
}

void moveInto(const QString& from, const QString& to)
{
    if (!QDir().mkpath(QFileInfo(to).path()))
        throw PublishError{QFileInfo(to).path(), QStringLiteral("cannot create the folder")};
    std::error_code error;
    std::filesystem::rename(QFile::encodeName(from).toStdString(), QFile::encodeName(to).toStdString(), error);
    if (error)
        throw PublishError{to, QString::fromLocal8Bit(error.message())};
}


}  // namespace

PublishSummary publishRelease(const PublishOptions& options)
{
    // Everything that can be checked is checked before the first write.
    checkOptions(options);
    const QList<ReleaseFile> files = scanRelease(options.releaseDir);
    const QDir site(absoluteClean(options.siteDir));
    for (const ReleaseFile& file : files)
        checkSiteTarget(site, file.relative);
    for (const QString& name : {ListName, SumsName, SignatureName})
        checkSiteTarget(site, name);
    const QString tool = options.secretKey.isEmpty() ? QString() : findMinisign();

    // Assemble the new site beside the old one, on the same file system, so that moving the
    // files in is a rename each.
    const QString parent = QFileInfo(site.path()).path();
    if (!QDir().mkpath(parent))
        throw PublishError{parent, QStringLiteral("cannot create the folder")};
    QTemporaryDir staging(parent + QStringLiteral("/.") + QFileInfo(site.path()).fileName()
                          + QStringLiteral(".publish-XXXXXX"));
    if (!staging.isValid())
        throw PublishError{parent, staging.errorString()};

    const QDateTime date = QDateTime::fromSecsSinceEpoch(options.now, Qt::UTC);
    const QByteArray firstLine = "Ironvale 3D update list, published "
        + date.toString(QStringLiteral("yyyy-MM-dd HH:mm:ss")).toLatin1() + " UTC";
    QList<TUpdateEntry> entries;
    QByteArray sums;
    PublishSummary summary;
    for (const ReleaseFile& file : files) {
        qint64 size = 0;
        const QByteArray digest = copyHashed(file.source, staging.filePath(file.relative), size);
        entries.append({file.listed, ListedPath(file.listed), size});
        sums += Sums::formatLine(digest, file.listed);
        ++summary.files;
        summary.bytes += size;
    }
    const QByteArray list = WriteUpdateList(firstLine, entries);
    sums.prepend(Sums::formatLine(Sha256::hash(list), ListName.toLatin1()));
    writeFile(staging.filePath(ListName), list);
    writeFile(staging.filePath(SumsName), sums);
    if (!tool.isEmpty()) {
        TrustedFields fields;
        fields.timestamp = options.now;
        if (options.expiresDays > 0)
            fields.expires = options.now + qint64(options.expiresDays) * 86400;
        const QByteArray comment = fields.format();
        signWithMinisign(tool, options.secretKey, staging.filePath(SumsName), staging.filePath(SignatureName),
                         comment);
    }

    // The files first, the list last: a client that reads the site meanwhile sees the old list
    // (whose checks then fail on the new files) or the complete new one.
    for (const ReleaseFile& file : files)
        moveInto(staging.filePath(file.relative), site.filePath(file.relative));
    if (tool.isEmpty()) {
        if (QFileInfo::exists(site.filePath(SignatureName)) && !QFile::remove(site.filePath(SignatureName)))
            throw PublishError{site.filePath(SignatureName), QStringLiteral("cannot remove the old signature")};
    } else {
        moveInto(staging.filePath(SignatureName), site.filePath(SignatureName));
    }
    moveInto(staging.filePath(SumsName), site.filePath(SumsName));
    moveInto(staging.filePath(ListName), site.filePath(ListName));
    return summary;
}
