#include "release/Publish.h"

#include "common/PublishError.h"
#include "release/FileCopy.h"
#include "release/FilePublisher.h"
#include "release/FolderCache.h"
#include "release/HeadWriter.h"
#include "release/MinisignTool.h"
#include "release/OtherFiles.h"
#include "release/PathNesting.h"
#include "release/PublishRecord.h"
#include "release/ReleaseFiles.h"
#include "release/SigningTime.h"
#include "release/SiteLayout.h"
#include "release/StopPoint.h"
#include "chunk/ChunkStore.h"
#include "site/SiteFiles.h"
#include "site/ExecutableMarks.h"
#include "site/Sums.h"
#include "site/TrustedFields.h"
#include "site/UpdateList.h"
#include "trust/Sha256.h"
#include "platform/Entries.h"
#include "platform/Folders.h"
#include "platform/SystemError.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <optional>


namespace {

void checkFolders(const PublishOptions& options, const SiteLayout& layout)
{
    if (!QFileInfo(options.releaseDir).isDir())
        throw PublishError{options.releaseDir, QStringLiteral("not a folder")};
    const QString release = resolvedPath(options.releaseDir);
    if (isInside(layout.site(), release) || isInside(layout.releases(), release))
        throw PublishError{options.siteDir, QStringLiteral("the site folder must not be the release folder or inside it")};
    // Publishing replaces the site's folders, the release's files with them.
    for (const QString& site : {layout.site(), layout.releases(), resolvedPath(layout.site())}) {
        if (isInside(release, site))
            throw PublishError{options.releaseDir, QStringLiteral("the release folder must not be inside the site folder")};
    }
}

QByteArray listFirstLine(qint64 now)
{
    const QDateTime date = QDateTime::fromSecsSinceEpoch(now, Qt::UTC);
    return "Ironvale 3D update list, published " + date.toString(QStringLiteral("yyyy-MM-dd HH:mm:ss")).toLatin1()
        + " UTC";
}

// A release file may not take the name of the chunk store the site serves beside it.
void checkStoreName(const QList<ReleaseFile>& files, qint64 chunkMinSize)
{
    if (chunkMinSize <= 0)
        return;
    for (const ReleaseFile& file : files) {
        if (file.relative.section('/', 0, 0) == ChunkStore::Folder)
            throw PublishError{file.source, QStringLiteral("the site's chunk store has this name (publish with "
                                                           "--chunk-min-size 0 to do without the store)")};
    }
}

// The release's "chunks": a relative link to the store kept once for all releases.
void linkStore(const QString& releases, const QString& release)
{
    if (!QFileInfo(releases + '/' + ChunkStore::Folder).isDir())
        return;
    const QString link = release + '/' + ChunkStore::Folder;
    if (const Status made = platform::makeSymbolicLink("../" + ChunkStore::Folder, link); !made)
        throw PublishError{link, made.error()};
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
    ProgressMeter& progress;
    QString before = {};  // the kept release the site served before the current one; empty: none
};

// What the release's files give the lists, built up file by file.
struct Listing {
    QList<UpdateEntry> entries;
    QHash<QByteArray, QByteArray> digests;  // listed path -> SHA-256
    QByteArray sums;                        // update.sums lines of the files
    QList<ExecutableMarks::File> executables;  // the files whose owner may execute them
};

qint64 totalSize(const QList<ReleaseFile>& files)
{
    qint64 total = 0;
    for (const ReleaseFile& file : files)
        total += file.identity.size;
    return total;
}

// Queues the patches of a file for players of the previous release and of the one before it.
void addPatches(const Build& job, PatchPublisher& patches, const ReleaseFile& file, const QByteArray& newDigest,
                qint64 size, const PreviousList& previous, const PreviousList& before)
{
    const QByteArray previousDigest = previous.digest(file.listed);
    const QString newCopy = job.target + '/' + file.relative;
    patches.add(file.relative, job.current + '/' + file.relative, previousDigest, newCopy, newDigest, size);
    const QByteArray beforeDigest = before.digest(file.listed);
    if (beforeDigest != previousDigest)
        patches.add(file.relative, job.before + '/' + file.relative, beforeDigest, newCopy, newDigest, size,
                    PatchPublisher::From::BeforePrevious);
}

// Copies (or hashes) every release file and queues the big ones for the chunk store.
Listing publishFiles(const Build& job, FilePublisher& publisher, ChunkPublisher& chunks, PatchPublisher& patches,
                     const PreviousList& previous, const PreviousList& before, PublishSummary& summary)
{
    Listing listing;
    ProgressMeter::Phase progress(job.progress, int(job.files.size()), totalSize(job.files));
    for (const ReleaseFile& file : job.files) {
        const FilePublisher::Published published = publisher.publish(file);
        if (published.read) {
            ++summary.filesRead;
            summary.bytesRead += published.size;
        }
        chunks.add(job.target + '/' + file.relative, published.sha256, published.size, previous.digest(file.listed));
        addPatches(job, patches, file, published.sha256, published.size, previous, before);
        listing.entries.append({file.listed, ListedPath(file.listed), published.size});
        listing.digests.insert(file.listed, published.sha256);
        listing.sums += Sums::formatLine(published.sha256, file.listed);
        if (QFileInfo(file.source).permissions() & QFileDevice::ExeOwner)
            listing.executables.append({published.sha256, file.listed});
        ++summary.files;
        summary.bytes += published.size;
        progress.advance(published.size);
        stopPoint("copying");
    }
    return listing;
}

// The site's files that are no release's carry over from the current release.
void carryOver(const Build& job)
{
    const QByteArray from = QFile::encodeName(job.current) + '/';
    const QByteArray to = QFile::encodeName(job.target) + '/';
    FolderCache folders;
    for (const QByteArray& other : job.others) {
        folders.makeParentOf(to + other);
        linkOrCopy(from + other, to + other);
    }
}

// update.txt, update.sums (its first line the list's checksum, then the files', the chunk
// indexes' and the executable marks), their compressed copies and, with a key, the signature and
// the head.
void writeLists(const Build& job, const Listing& listing, QByteArray sums)
{
    const QByteArray list = WriteUpdateList(listFirstLine(job.options.now), listing.entries);
    sums.prepend(Sums::formatLine(Sha256::hash(list), SiteFile::List.toLatin1()));
    sums += ExecutableMarks::lines(listing.executables);
    writeNewFile(job.target + '/' + SiteFile::List, list);
    writeNewFile(job.target + '/' + SiteFile::Sums, sums);
    writeCompressedLists(job.target);
    if (job.tool.isEmpty())
        return;
    TrustedFields fields;
    fields.timestamp = job.options.now;
    if (job.options.expiresDays > 0)
        fields.expires = job.options.now + qint64(job.options.expiresDays) * 86400;
    signWithMinisign(job.tool, job.options.secretKey, job.password, job.target + '/' + SiteFile::Sums,
                     job.target + '/' + SiteFile::Signature, fields.format());
    writeSignedHead(job.tool, job.options.secretKey, job.password, job.target, fields.format(), job.current);
}

// Fills the new release folder: the release's files, the site's other files, the list files.
PublishSummary build(const Build& job)
{
    const PublishRecord record = PublishRecord::read(job.releases, QFileInfo(job.current).fileName());
    FilePublisher publisher(record, job.current, job.target, job.options.dryRun);
    ChunkPublisher chunks(job.releases, job.options.chunkMinSize, job.options.dryRun);
    const PreviousList previous = PreviousList::read(job.current);
    PublishSummary summary;
    PatchPublisher patches(job.releases, job.options.chunkMinSize, job.options.dryRun);
    const PreviousList before = PreviousList::read(job.before);
    const Listing listing = publishFiles(job, publisher, chunks, patches, previous, before, summary);
    patches.start();
    QList<QByteArray> listed;
    for (const UpdateEntry& entry : listing.entries)
        listed.append(entry.listed);
    summary.changes = previous.compare(listed, listing.digests);
    if (job.options.dryRun)
        return summary;
    const QByteArray indexLines = chunks.finish(summary.chunks, job.progress);
    const QByteArray patchLines = patches.finish(summary.patches);
    if (summary.chunks.enabled)
        linkStore(job.releases, job.target);
    carryOver(job);
    writeLists(job, listing, listing.sums + indexLines + patchLines);
    publisher.next().write(job.releases, QFileInfo(job.target).fileName());
    return summary;
}

}  // namespace

PublishSummary publishRelease(const PublishOptions& options, ProgressMeter& progress)
{
    // Everything that can be checked is checked before the first write.
    SiteLayout layout(options.siteDir);
    checkFolders(options, layout);
    const QString tool = options.secretKey.isEmpty() ? QString() : findMinisign();
    const std::optional<QByteArray> password = tool.isEmpty() ? std::nullopt : keyPassword(options.secretKey, options.passwordFile);
    const QList<ReleaseFile> files = scanRelease(options.releaseDir);
    checkStoreName(files, options.chunkMinSize);
    const QList<QByteArray> others = otherSiteFiles(layout.current(), files);
    // The lists carry the time they are signed at, which never goes back from the site's.
    PublishOptions timed = options;
    const SigningTime time = tool.isEmpty() ? SigningTime{options.now, 0} : signingTime(layout.current(), options.now);
    timed.now = time.timestamp;
    if (options.dryRun)
        return build({timed, files, others, layout.current(), layout.releases(), {}, tool, password, progress});

    layout.prepare();
    const QString release = layout.newRelease(timed.now);  // named in the order signed
    PublishSummary summary;
    try {
        summary = build({timed, files, others, layout.current(), layout.releases(), release, tool, password, progress,
                         layout.keptReleases().value(0)});
        summary.signedAt = time.timestamp;
        summary.clockBehindBy = time.behindBy;
        if (const Status synced = platform::syncFileSystem(release); !synced)
            throw PublishError{release, synced.error()};
    } catch (...) {
        layout.abandon(release);
        throw;
    }
    stopPoint("built");
    layout.switchTo(release);
    layout.finishCleanup();
    return summary;
}
