#include "release/SiteLayout.h"

#include "release/FileCopy.h"
#include "common/PublishError.h"
#include "release/StopPoint.h"
#include "platform/Entries.h"
#include "platform/Folders.h"
#include "platform/RegularFile.h"
#include "platform/SystemError.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRandomGenerator>
#include <QRegularExpression>


namespace {

const QRegularExpression ReleaseName(QStringLiteral("^release-\\d{8}-\\d{6}-[0-9a-f]{8}$"));
const QRegularExpression LinkName(QStringLiteral("^\\.link-[0-9a-f]{16}$"));
const QString OldSiteName = QStringLiteral(".old-site");
const QString LockName = QStringLiteral(".publish.lock");
const QRegularExpression RetiredName(QStringLiteral("^\\.retired-[0-9a-f]{16}$"));
const QString KeptPrefix = QStringLiteral("kept-");

void renameOrThrow(const QString& from, const QString& to)
{
    if (const Status renamed = platform::renameEntry(from, to); !renamed)
        throw PublishError{to, renamed.error()};
}

}  // namespace

SiteLayout::SiteLayout(const QString& siteDir)
{
    const QFileInfo info(QDir::cleanPath(QFileInfo(siteDir).absoluteFilePath()));
    const QString parent = QFileInfo(info.path()).exists() ? QFileInfo(info.path()).canonicalFilePath() : info.path();
    site_ = parent + '/' + info.fileName();
    releases_ = site_ + QStringLiteral(".releases");

    const Result<platform::EntryKind> kind = platform::entryKind(site_);
    if (!kind)
        throw PublishError{siteDir, kind.error()};
    if (*kind == platform::EntryKind::Missing) {
        // A migration stopped between moving the plain folder aside and making the link.
        if (QFileInfo(releases_ + '/' + OldSiteName).isDir()) {
            current_ = releases_ + '/' + OldSiteName;
            plain_ = true;
        }
    } else if (*kind == platform::EntryKind::Folder) {
        current_ = site_;
        plain_ = true;
    } else if (*kind == platform::EntryKind::Link) {
        const Result<QString> linked = platform::linkTarget(site_);
        if (!linked)
            throw PublishError{siteDir, linked.error()};
        const QString target = *linked;
        const QString prefix = info.fileName() + QStringLiteral(".releases/");
        if (!target.startsWith(prefix) || !ReleaseName.match(target.mid(prefix.size())).hasMatch())
            throw PublishError{siteDir, QStringLiteral("a symbolic link that renewel-publish did not make (give the "
                                                       "folder it points to)")};
        current_ = releases_ + '/' + target.mid(prefix.size());
        if (!QFileInfo(current_).isDir())
            current_.clear();  // a dangling link: the next release repairs the site
    } else {
        throw PublishError{siteDir, QStringLiteral("not a folder")};
    }
}

SiteLayout::~SiteLayout()
{
    joinCleaner();
}

void SiteLayout::joinCleaner()
{
    if (cleaner_.joinable())
        cleaner_.join();
}

void SiteLayout::finishCleanup()
{
    joinCleaner();
    if (cleanupError_)
        throw *std::exchange(cleanupError_, std::nullopt);
}

void SiteLayout::prepare()
{
    madeReleases_ = !QFileInfo::exists(releases_);
    if (const Status made = platform::makeFolders(releases_); !made)
        throw PublishError{releases_, made.error()};
    const QString lockFile = releases_ + '/' + LockName;
    RegularFile file = RegularFile::open(lockFile, RegularFile::Access::ReadWriteCreate, Links::Refuse);
    if (!file)
        throw PublishError{lockFile, file.reason()};
    lock_ = std::move(file.descriptor());
    const Result<bool> locked = platform::tryLockFile(lock_.fd());
    if (!locked || !*locked)
        throw PublishError{site_, !locked ? locked.error()
                                          : QStringLiteral("another renewel-publish is publishing to this site")};
    // The names are read now, so a release this run makes is never among them.
    cleaner_ = std::thread([this, paths = leftovers()] {
        try {
            for (const QString& path : paths)
                removeTree(path);
        } catch (const PublishError& error) {
            cleanupError_ = error;
        }
    });
}

QStringList SiteLayout::leftovers() const
{
    QStringList paths;
    const QDir releases(releases_);
    for (const QString& name : releases.entryList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot)) {
        const QString path = releases.filePath(name);
        const bool ours = ReleaseName.match(name).hasMatch() || LinkName.match(name).hasMatch()
            || RetiredName.match(name).hasMatch() || name == OldSiteName;
        if (ours && path != current_)
            paths.append(path);
    }
    for (const QString& kept : allKept().mid(KeptReleases))
        paths.append(kept);
    // Earlier versions assembled a site in ".SITE.publish-XXXXXX" beside it.
    const QDir parent(QFileInfo(site_).path());
    const QRegularExpression staging(QStringLiteral("^\\.") + QRegularExpression::escape(QFileInfo(site_).fileName())
                                     + QStringLiteral("\\.publish-[A-Za-z0-9]{6}$"));
    for (const QString& name : parent.entryList(QDir::Dirs | QDir::Hidden | QDir::NoDotAndDotDot)) {
        if (staging.match(name).hasMatch())
            paths.append(parent.filePath(name));
    }
    return paths;
}

void SiteLayout::abandon(const QString& release)
{
    joinCleaner();
    platform::removeTree(madeReleases_ ? releases_ : release);  // best effort: the failure is reported already
}

QString SiteLayout::newRelease(qint64 now)
{
    const QString name = QStringLiteral("release-%1-%2")
                             .arg(QDateTime::fromSecsSinceEpoch(now, Qt::UTC).toString(QStringLiteral("yyyyMMdd-HHmmss")))
                             .arg(QRandomGenerator::global()->generate(), 8, 16, QLatin1Char('0'));
    const QString path = releases_ + '/' + name;
    if (const Status made = platform::makeFolder(path); !made)
        throw PublishError{path, made.error()};
    return path;
}

void SiteLayout::switchTo(const QString& release)
{
    // The link is made under a temporary name in the releases folder, then renamed over SITE_DIR.
    const QString link = releases_ + QStringLiteral("/.link-%1").arg(QRandomGenerator::global()->generate64(), 16, 16,
                                                                         QLatin1Char('0'));
    const QString target = QFileInfo(site_).fileName() + QStringLiteral(".releases/") + QFileInfo(release).fileName();
    if (const Status made = platform::makeSymbolicLink(target, link); !made)
        throw PublishError{link, made.error()};

    QString previous = current_;
    if (plain_ && current_ == site_)
        previous = replacePlainFolder(link);
    else
        renameOrThrow(link, site_);
    platform::syncFolder(QFileInfo(site_).path());  // best effort: the switch is made either way
    stopPoint("switched");
    current_ = release;
    plain_ = false;
    // A release is kept to go back to; anything else is renamed rather than removed, and the next
    // run removes it while it builds.
    if (ReleaseName.match(QFileInfo(previous).fileName()).hasMatch())
        renameOrThrow(previous, releases_ + '/' + KeptPrefix + QFileInfo(previous).fileName());
    else if (!previous.isEmpty())
        renameOrThrow(previous, releases_ + QStringLiteral("/.retired-%1").arg(QRandomGenerator::global()->generate64(),
                                                                                16, 16, QLatin1Char('0')));
}

QStringList SiteLayout::keptReleases() const { return allKept().mid(0, KeptReleases); }

QStringList SiteLayout::allKept() const
{
    QStringList kept;
    const QDir releases(releases_);
    for (const QString& name : releases.entryList({KeptPrefix + QStringLiteral("release-*")}, QDir::Dirs | QDir::NoSymLinks,
                                                  QDir::Name | QDir::Reversed)) {
        if (ReleaseName.match(name.mid(KeptPrefix.size())).hasMatch())
            kept.append(releases.filePath(name));
    }
    return kept;
}

QString SiteLayout::keptRelease(const QString& name) const
{
    const QString bare = name.startsWith(KeptPrefix) ? name.mid(KeptPrefix.size()) : name;
    for (const QString& kept : keptReleases()) {
        if (QFileInfo(kept).fileName() == KeptPrefix + bare)
            return kept;
    }
    return {};
}

QString SiteLayout::replacePlainFolder(const QString& link)
{
    // The plain folder is exchanged with the link, so SITE_DIR never goes missing; the old folder
    // is then at the link's temporary name.
    const Result<bool> exchanged = platform::exchangeEntries(link, site_);
    if (exchanged && *exchanged)
        return link;
    if (!exchanged) {
        platform::removeTree(link);
        throw PublishError{site_, exchanged.error()};
    }
    const QString previous = releases_ + '/' + OldSiteName;
    renameOrThrow(site_, previous);
    stopPoint("moved-aside");
    renameOrThrow(link, site_);
    return previous;
}
