#include "Publish.h"

#include "FileCopy.h"
#include "MinisignTool.h"
#include "OtherFiles.h"
#include "Progress.h"
#include "PublishError.h"
#include "PublishRecord.h"
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

#include <optional>

#include <unistd.h>

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

// The key's password when one is needed and given; throws when it is needed and can't be asked for.
std::optional<QByteArray> keyPassword(const PublishOptions& options)
{
    const QFileInfo key(options.secretKey);
    if (!key.isFile() || !key.isReadable())
        throw PublishError{options.secretKey, QStringLiteral("no readable secret key file")};
    if (!options.passwordFile.isEmpty())
        return readPassword(options.passwordFile);
    if (keyHasPassword(options.secretKey) && !::isatty(STDIN_FILENO))
        throw PublishError{options.secretKey,
                           QStringLiteral("the key is protected by a password and there is no terminal to ask for it: "
                                          "give the password with --password-file FILE (or --password-file - on "
                                          "standard input), or make a key without a password for automation with "
                                          "minisign -G -W")};
    return std::nullopt;
}

void checkFolders(const PublishOptions& options, const SiteLayout& layout)
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
}

// The identity of a site copy: a hard link to it changes its change time, so that is left out.
std::optional<FileIdentity> siteIdentityOf(const QString& path)
{
    std::optional<FileIdentity> identity = identityOf(path);
    if (identity)
        identity->ctimeNs = 0;
    return identity;
}

qint64 nowNs() { return QDateTime::currentMSecsSinceEpoch() * 1000000; }

// Puts the release files into the new release folder (or, in a dry run, only hashes those that
// need reading), filling the next record.
class FilePublisher {
public:
    FilePublisher(const PublishRecord& record, const QString& current, const QString& target, bool dryRun)
        : record_(record), current_(current), target_(target), dryRun_(dryRun) {}

    // The file's SHA-256 and size.
    std::pair<QByteArray, qint64> publish(const ReleaseFile& file, PublishSummary& summary)
    {
        const FileIdentity& source = file.identity;
        const PublishRecord::Entry* entry = record_.find(file.relative);
        const QString old = current_ + '/' + file.relative;
        const QByteArray target = QFile::encodeName(target_ + '/' + file.relative);
        if (!dryRun_)
            folders_.makeParentOf(target);
        if (entry && entry->source == source && siteIdentityOf(old) == entry->site) {
            if (!dryRun_)
                linkOrCopy(QFile::encodeName(old), target);
            next_.add(file.relative, *entry);
            return {entry->sha256, entry->source.size};
        }
        const qint64 readStart = nowNs();
        qint64 size = 0;
        QByteArray digest;
        if (dryRun_) {
            const ::Result<QByteArray> hashed = sha256OfFile(file.source);
            if (!hashed)
                throw PublishError{file.source, hashed.error()};
            digest = *hashed;
            size = source.size;
        } else {
            digest = copyHashed(file.source, QFile::decodeName(target), size);
        }
        ++summary.filesRead;
        summary.bytesRead += size;
        // Recorded only when the file was not written while or just before it was read: a
        // change within the file system's clock tick would leave its times as recorded.
        constexpr qint64 ClockTickNs = 20'000'000;
        const std::optional<FileIdentity> site = siteIdentityOf(target_ + '/' + file.relative);
        if (!dryRun_ && site && identityOf(file.source) == source && source.size == size
            && source.ctimeNs < readStart - ClockTickNs && source.mtimeNs < readStart - ClockTickNs)
            next_.add(file.relative, {source, *site, digest});
        return {digest, size};
    }

    const PublishRecord& next() const { return next_; }

private:
    const PublishRecord& record_;
    QString current_;
    QString target_;
    bool dryRun_;
    PublishRecord next_;
    FolderCache folders_;
};

QByteArray listFirstLine(qint64 now)
{
    const QDateTime date = QDateTime::fromSecsSinceEpoch(now, Qt::UTC);
    return "Ironvale 3D update list, published " + date.toString(QStringLiteral("yyyy-MM-dd HH:mm:ss")).toLatin1()
        + " UTC";
}

struct Build {
    const PublishOptions& options;
    const QList<ReleaseFile>& files;
    const QList<QByteArray>& others;
    const QString& current;
    QString releases;
    QString target;  // the new release folder; empty in a dry run
    QString tool;
    std::optional<QByteArray> password;
};

// Fills the new release folder: the release's files, the site's other files, the list files.
PublishSummary build(const Build& job)
{
    const PublishRecord record = PublishRecord::read(job.releases, QFileInfo(job.current).fileName());
    FilePublisher publisher(record, job.current, job.target, job.options.dryRun);
    ChunkPublisher chunks(job.releases, job.options.chunkMinSize, job.options.dryRun, job.files);
    qint64 total = 0;
    for (const ReleaseFile& file : job.files)
        total += file.identity.size;
    Progress progress(int(job.files.size()), total);
    const PreviousList previous = PreviousList::read(job.current);

    QList<UpdateEntry> entries;
    QHash<QByteArray, QByteArray> digests;
    QByteArray sums;
    PublishSummary summary;
    for (const ReleaseFile& file : job.files) {
        const auto [digest, size] = publisher.publish(file, summary);
        chunks.add(job.target + '/' + file.relative, digest, size, previous.digest(file.listed));
        entries.append({file.listed, ListedPath(file.listed), size});
        digests.insert(file.listed, digest);
        sums += Sums::formatLine(digest, file.listed);
        ++summary.files;
        summary.bytes += size;
        progress.advance(size);
        stopPoint("copying");
    }
    progress.finish();
    QList<QByteArray> listed;
    for (const UpdateEntry& entry : entries)
        listed.append(entry.listed);
    summary.changes = previous.compare(listed, digests);
    if (job.options.dryRun)
        return summary;
    sums += chunks.finish(job.target, summary.chunks);

    const QByteArray from = QFile::encodeName(job.current) + '/';
    const QByteArray to = QFile::encodeName(job.target) + '/';
    FolderCache folders;
    for (const QByteArray& other : job.others) {
        folders.makeParentOf(to + other);
        linkOrCopy(from + other, to + other);
    }

    const QByteArray list = WriteUpdateList(listFirstLine(job.options.now), entries);
    sums.prepend(Sums::formatLine(Sha256::hash(list), SiteFile::List.toLatin1()));
    writeNewFile(job.target + '/' + SiteFile::List, list);
    writeNewFile(job.target + '/' + SiteFile::Sums, sums);
    if (!job.tool.isEmpty()) {
        TrustedFields fields;
        fields.timestamp = job.options.now;
        if (job.options.expiresDays > 0)
            fields.expires = job.options.now + qint64(job.options.expiresDays) * 86400;
        signWithMinisign(job.tool, job.options.secretKey, job.password, job.target + '/' + SiteFile::Sums,
                         job.target + '/' + SiteFile::Signature, fields.format());
    }
    publisher.next().write(job.releases, QFileInfo(job.target).fileName());
    return summary;
}

}  // namespace

PublishSummary publishRelease(const PublishOptions& options)
{
    // Everything that can be checked is checked before the first write.
    SiteLayout layout(options.siteDir);
    checkFolders(options, layout);
    const QString tool = options.secretKey.isEmpty() ? QString() : findMinisign();
    const std::optional<QByteArray> password = tool.isEmpty() ? std::nullopt : keyPassword(options);
    const QList<ReleaseFile> files = scanRelease(options.releaseDir);
    const QList<QByteArray> others = otherSiteFiles(layout.current(), files);
    if (options.dryRun)
        return build({options, files, others, layout.current(), layout.releases(), {}, tool, password});

    layout.prepare();
    const QString release = layout.newRelease(options.now);
    PublishSummary summary;
    try {
        summary = build({options, files, others, layout.current(), layout.releases(), release, tool, password});
        syncFileSystem(release);
    } catch (...) {
        layout.abandon(release);
        throw;
    }
    stopPoint("built");
    layout.switchTo(release);
    layout.finishCleanup();
    return summary;
}
