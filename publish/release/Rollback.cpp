#include "release/Rollback.h"

#include "common/PublishError.h"
#include "common/SiteFileReading.h"
#include "release/FileCopy.h"
#include "release/FolderCache.h"
#include "release/HeadWriter.h"
#include "release/MinisignTool.h"
#include "release/SigningTime.h"
#include "release/SiteLayout.h"
#include "release/StopPoint.h"
#include "site/SiteFiles.h"
#include "site/TrustedFields.h"
#include "site/UpdateList.h"
#include "platform/Folders.h"

#include <QDateTime>
#include <QFile>
#include <QFileInfo>

#include <filesystem>
#include <optional>
#include <system_error>

namespace fs = std::filesystem;

namespace {

const QString KeptPrefix = QStringLiteral("kept-");

int listedFiles(const QString& release)
{
    const Result<QByteArray> list = readSiteFile(release + '/' + SiteFile::List, SiteFileLimit);
    return list ? int(UpdateListEntries::parse(*list).entries.size()) : 0;
}

// "release-yyyyMMdd-HHmmss-…" as Unix seconds.
qint64 timeOfName(const QString& name)
{
    QDateTime time = QDateTime::fromString(name.mid(8, 15), QStringLiteral("yyyyMMdd-HHmmss"));
    time.setTimeSpec(Qt::UTC);
    return time.toSecsSinceEpoch();
}

// Every file and link of the kept release but its signature, shared by hard links (the store's
// link among them, which points where it did).
void linkRelease(const QString& kept, const QString& target)
{
    const fs::path from = QFile::encodeName(kept).toStdString();
    std::error_code error;
    FolderCache folders;
    for (fs::recursive_directory_iterator it(from, error), end; !error && it != end; it.increment(error)) {
        const fs::file_status status = it->symlink_status(error);
        if (error || fs::is_directory(status))
            continue;
        const QByteArray relative = QByteArray::fromStdString(it->path().lexically_relative(from).native());
        if (relative == QFile::encodeName(SiteFile::Signature) || relative == QFile::encodeName(SiteFile::Head))
            continue;
        const QByteArray to = QFile::encodeName(target) + '/' + relative;
        folders.makeParentOf(to);
        linkOrCopy(QByteArray::fromStdString(it->path().native()), to);
    }
    if (error)
        throw PublishError{kept, QStringLiteral("cannot read the folder: ") + QString::fromLocal8Bit(error.message())};
}

struct Signer {
    QString tool;
    std::optional<QByteArray> password;
};

void sign(const RollbackOptions& options, const Signer& signer, const QString& target, qint64 timestamp,
          const QString& current)
{
    TrustedFields fields;
    fields.timestamp = timestamp;
    if (options.expiresDays > 0)
        fields.expires = timestamp + qint64(options.expiresDays) * 86400;
    signWithMinisign(signer.tool, options.secretKey, signer.password, target + '/' + SiteFile::Sums,
                     target + '/' + SiteFile::Signature, fields.format());
    writeSignedHead(signer.tool, options.secretKey, signer.password, target, fields.format(), current);
}

// The kept release to go back to; throws when there is none of that name or it can't be signed.
QString chosenRelease(const SiteLayout& layout, const RollbackOptions& options)
{
    if (layout.current().isEmpty())
        throw PublishError{options.siteDir, QStringLiteral("nothing published")};
    const QString kept = layout.keptRelease(options.release);
    if (kept.isEmpty())
        throw PublishError{options.release, QStringLiteral("no such release kept beside the site (renewel-publish "
                                                           "releases SITE_DIR lists them)")};
    if (options.secretKey.isEmpty() && signedTimestampOf(kept))
        throw PublishError{options.release, QStringLiteral("the release was signed, and players holding a key accept "
                                                           "only signed lists: give --key")};
    return kept;
}

}  // namespace

QList<KeptRelease> keptReleasesOf(const QString& siteDir)
{
    const SiteLayout layout(siteDir);
    QList<KeptRelease> releases;
    for (const QString& path : layout.keptReleases()) {
        KeptRelease release;
        release.name = QFileInfo(path).fileName().mid(KeptPrefix.size());
        const std::optional<qint64> timestamp = signedTimestampOf(path);
        release.isSigned = timestamp.has_value();
        release.published = timestamp.value_or(timeOfName(release.name));
        release.files = listedFiles(path);
        releases.append(release);
    }
    return releases;
}

RollbackSummary rollBack(const RollbackOptions& options)
{
    SiteLayout layout(options.siteDir);
    const QString kept = chosenRelease(layout, options);
    const SigningTime time = signingTime(layout.current(), options.now);
    Signer signer;
    if (!options.secretKey.isEmpty())
        signer = {findMinisign(), keyPassword(options.secretKey, options.passwordFile)};
    layout.prepare();
    RollbackSummary summary{layout.newRelease(options.secretKey.isEmpty() ? options.now : time.timestamp), listedFiles(kept)};
    try {
        linkRelease(kept, summary.release);
        if (!options.secretKey.isEmpty()) {
            sign(options, signer, summary.release, time.timestamp, layout.current());
            summary.signedAt = time.timestamp;
            summary.clockBehindBy = time.behindBy;
        }
        if (const Status synced = platform::syncFileSystem(summary.release); !synced)
            throw PublishError{summary.release, synced.error()};
    } catch (...) {
        layout.abandon(summary.release);
        throw;
    }
    stopPoint("built");
    layout.switchTo(summary.release);
    layout.finishCleanup();
    return summary;
}
