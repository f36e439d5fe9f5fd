#include "run/install/Installer.h"

#include "run/install/InstalledState.h"
#include "run/install/UpdateFiles.h"
#include "site/UpdateList.h"

#include "AtomicFile.h"
#include "Text.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

Installer::~Installer()
{
    for (const QString& folder : std::as_const(touched_))
        SyncFolder(folder);
}

Status Installer::install(const UpdateEntry& entry, const QString& downloaded, const QByteArray& digest,
                          QString* subject)
{
    const QString target = entry.path.installPath(installBase_);
    const QString folder = entry.path.installFolder(installBase_);
    *subject = displayText(entry.listed.mid(1));
    if (!InsideInstallation(folder, installBase_)) {
        *subject = QDir::toNativeSeparators(target);
        return Status::failure(QStringLiteral("its folder leads outside the installation"));
    }
    noteMadeFolders(entry.listed);
    if (const Status made = EnsureFolder(folder); !made)
        return Status::failure(QStringLiteral("cannot create its folder: ") + made.error());
    leftovers_.removeFor(target);
    // The download is complete and on disk: renaming it into place is the whole install.
    // Where that can't be done (another file system), it is copied in atomically.
    if (const Status moved = MoveInto(downloaded, target); !moved) {
        if (const Status copied = InstallFile(downloaded, target); !copied)
            return Status::failure(QStringLiteral("cannot install the file: ") + copied.error());
        QFile::remove(downloaded);
    }
    touched_.insert(QFileInfo(target).absolutePath());
    if (const std::optional<FileIdentity> identity = IdentityOf(target))
        state_.record(entry.listed, *identity, digest);
    return {};
}

// The folders that installing this path will make, for removing them again with the last file.
void Installer::noteMadeFolders(const QByteArray& listed)
{
    for (const QByteArray& folder : ListedPath::foldersAbove(listed)) {
        if (!QFileInfo::exists(ListedPath(folder).installPath(installBase_)))
            state_.Made.insert(folder);
    }
}
