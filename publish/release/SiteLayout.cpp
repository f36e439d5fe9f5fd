#include "release/SiteLayout.h"

#include "release/FileCopy.h"
#include "common/PublishError.h"
#include "release/StopPoint.h"
#include "platform/Folders.h"
#include "platform/RegularFile.h"
#include "platform/SystemError.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRandomGenerator>
#include <QRegularExpression>

#include <cerrno>
#include <cstdio>
#include <filesystem>
#include <system_error>

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

const QRegularExpression ReleaseName(QStringLiteral("^release-\\d{8}-\\d{6}-[0-9a-f]{8}$"));
const QRegularExpression LinkName(QStringLiteral("^\\.link-[0-9a-f]{16}$"));
const QString OldSiteName = QStringLiteral(".old-site");
const QString LockName = QStringLiteral(".publish.lock");
const QRegularExpression RetiredName(QStringLiteral("^\\.retired-[0-9a-f]{16}$"));
const QString KeptPrefix = QStringLiteral("kept-");

QByteArray native(const QString& path) { return QFile::encodeName(path); }

void renameOrThrow(const QString& from, const QString& to)
{
    if (::rename(native(from).constData(), native(to).constData()) != 0)
        throw PublishError{to, systemReason(errno)};
}

}  // namespace

SiteLayout::SiteLayout(const QString& siteDir)
{
    const QFileInfo info(QDir::cleanPath(QFileInfo(siteDir).absoluteFilePath()));
    const QString parent = QFileInfo(info.path()).exists() ? QFileInfo(info.path()).canonicalFilePath() : info.path();
    site_ = parent + '/' + info.fileName();
    releases_ = site_ + QStringLiteral(".releases");

    struct stat status {};
    if (::lstat(native(site_).constData(), &status) != 0) {
        if (errno != ENOENT)
            throw PublishError{siteDir, systemReason(errno)};
        // A migration stopped between moving the plain folder aside and making the link.
        if (QFileInfo(releases_ + '/' + OldSiteName).isDir()) {
            current_ = releases_ + '/' + OldSiteName;
            plain_ = true;
        }
    } else if (S_ISDIR(status.st_mode)) {
        current_ = site_;
        plain_ = true;
    } else if (S_ISLNK(status.st_mode)) {
        const QString target = QFile::decodeName(
            QByteArray::fromStdString(std::filesystem::read_symlink(native(site_).toStdString()).native()));
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
    if (::flock(lock_.fd(), LOCK_EX | LOCK_NB) != 0)
        throw PublishError{site_, errno == EWOULDBLOCK ? QStringLiteral("another renewel-publish is publishing "
                                                                       "to this site")
                                                       : systemReason(errno)};
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
    std::error_code ignored;
    std::filesystem::remove_all(native(madeReleases_ ? releases_ : release).toStdString(), ignored);
}

QString SiteLayout::newRelease(qint64 now)
{
    const QString name = QStringLiteral("release-%1-%2")
                             .arg(QDateTime::fromSecsSinceEpoch(now, Qt::UTC).toString(QStringLiteral("yyyyMMdd-HHmmss")))
                             .arg(QRandomGenerator::global()->generate(), 8, 16, QLatin1Char('0'));
    const QString path = releases_ + '/' + name;
    if (::mkdir(native(path).constData(), 0777) != 0)
        throw PublishError{path, systemReason(errno)};
    return path;
}

void SiteLayout::switchTo(const QString& release)
{
    // The link is made under a temporary name in the releases folder, then renamed over SITE_DIR.
    const QString link = releases_ + QStringLiteral("/.link-%1").arg(QRandomGenerator::global()->generate64(), 16, 16,
                                                                         QLatin1Char('0'));
    const QString target = QFileInfo(site_).fileName() + QStringLiteral(".releases/") + QFileInfo(release).fileName();
    if (::symlink(native(target).constData(), native(link).constData()) != 0)
        throw PublishError{link, systemReason(errno)};

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
    if (::renameat2(AT_FDCWD, native(link).constData(), AT_FDCWD, native(site_).constData(), RENAME_EXCHANGE) == 0)
        return link;
    if (errno != EINVAL && errno != ENOSYS && errno != ENOTSUP) {
        const QString reason = systemReason(errno);
        ::unlink(native(link).constData());
        throw PublishError{site_, reason};
    }
    const QString previous = releases_ + '/' + OldSiteName;
    renameOrThrow(site_, previous);
    stopPoint("moved-aside");
    renameOrThrow(link, site_);
    return previous;
}
