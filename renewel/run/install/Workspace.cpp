#include "run/install/Workspace.h"

#include "net/HTTPSink.h"
#include "run/install/UpdateFiles.h"
#include "run/report/RunReport.h"
#include "run/install/SwitchJournal.h"
#include "site/SiteFiles.h"

#include "platform/Folders.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <filesystem>
#include <system_error>

Status Workspace::claim(RunReport& report)
{
    if (checkOnly_)
        return {};
    auto lock = std::make_unique<InstallationLock>(QDir(folders_.program).filePath(InstallationFile::Lock));
    if (const Status locked = lock->acquire(); !locked)
        return report.fail(QDir::toNativeSeparators(folders_.installBase),
                           locked.error() == InstallationLock::Busy
                               ? locked.error()
                               : QStringLiteral("cannot lock the installation: ") + locked.error());
    lock_ = std::move(lock);
    return {};
}

Status Workspace::makeDownloadFolder(RunReport& report, const QString& errorText)
{
    if (checkOnly_)
        return {};
    const QString& folder = folders_.download;
    // The download folder is written and emptied: never through a link that leaves the
    // installation.
    if (QFileInfo(folder).isSymLink() && !InsideInstallation(folder, folders_.installBase))
        return report.fail(QDir::toNativeSeparators(folder), QStringLiteral("it leads outside the installation"));
    if (QFileInfo(folder).isDir() || QDir().mkdir(folder) || quiet_)
        return {};
    // The general error report with the "Error" text; the window stays open.
    return report.generalReport(QDir::toNativeSeparators(folder), errorText);
}

// Partial downloads of files the list no longer names, and whatever else is there, go with it
// (links in it are removed, never followed). A download folder that is itself a link into the
// installation is only emptied of the list.
void Workspace::empty()
{
    std::error_code ignored;
    if (QFileInfo(folders_.download).isSymLink())
        QFile::remove(folders_.temp(SiteFile::List));
    else
        std::filesystem::remove_all(QFile::encodeName(folders_.download).toStdString(), ignored);
}

void Workspace::dropPartialsWhenFull(const QSet<QString>& staged)
{
    constexpr qint64 Full = 1024 * 1024;  // less than this free: the run met a full disk
    const Result<qint64> free = platform::freeSpace(folders_.download);
    if (checkOnly_ || !free || *free >= Full || QFileInfo(folders_.download).isSymLink())
        return;
    const QSet<QString> keep{SiteFile::List, SiteFile::Sums, SiteFile::Signature,
                             QFileInfo(SwitchJournal::path(folders_.download)).fileName()};
    std::error_code ignored;
    for (const QFileInfo& entry : QDir(folders_.download).entryInfoList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden)) {
        if (!staged.contains(entry.fileName()) && !keep.contains(entry.fileName()))
            std::filesystem::remove_all(QFile::encodeName(entry.filePath()).toStdString(), ignored);
    }
}

void Workspace::release()
{
    for (const QString& name : {SiteFile::Sums, SiteFile::Signature}) {
        QFile::remove(folders_.temp(name));
        QFile::remove(FileSink::validatorFile(folders_.temp(name)));
    }
    QDir().rmdir(folders_.download);  // only when empty
    lock_.reset();
}
