#include "run/UpdateFiles.h"

#include "site/SiteFiles.h"

#include "platform/Folders.h"
#include "platform/RegularFile.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <algorithm>

namespace {
bool isSeparator(QChar c) { return c == QLatin1Char('\\') || c == QLatin1Char('/'); }
}  // namespace

qint64 LocalFileSize(const QString& path, FileIdentity* identity)
{
    // Opened for reading and writing as the rule asks, but never created, and never waiting on a
    // pipe or device: only a regular file has a size here.
    const RegularFile file = RegularFile::open(path, RegularFile::Access::ReadWrite, Links::Follow);
    if (!file)
        return 0;
    if (identity)
        *identity = file.identity().withoutChangeTime();
    return file.size();
}

std::optional<FileIdentity> IdentityOf(const QString& path)
{
    const std::optional<FileIdentity> identity = platform::identityOf(path, Links::Follow);
    return identity ? std::optional<FileIdentity>(identity->withoutChangeTime()) : std::nullopt;
}

Status EnsureFolder(const QString& folder)
{
    QString dir = folder;
    if (!dir.isEmpty() && isSeparator(dir.back()))
        dir.chop(1);
    if (dir.size() < 3 || QFileInfo(dir).isDir())
        return {};
    // A text with no name after its last separator or drive colon names no folder to create.
    const qsizetype cut = std::max({dir.lastIndexOf(QLatin1Char('\\')), dir.lastIndexOf(QLatin1Char('/')),
                                    dir.lastIndexOf(QLatin1Char(':'))});
    if (cut == dir.size() - 1)
        return {};
    return platform::makeFolders(dir);
}

QString StripTrailingBackslash(const QString& path)
{
    if (path.endsWith(QLatin1Char('\\')))
        return path.chopped(1);
    return path;
}

QString InstallBase(const QString& programFolder)
{
    if (!programFolder.isEmpty() && isSeparator(programFolder.back()))
        return programFolder.chopped(1);
    return programFolder;
}

QString DownloadFolder(const QString& programFolder)
{
    return InstallBase(programFolder) + QDir::separator() + QStringLiteral("temp");
}

bool InsideInstallation(const QString& folder, const QString& installBase)
{
    const QString base = QFileInfo(installBase).canonicalFilePath();
    if (base.isEmpty())
        return false;
    QString existing = QDir::cleanPath(folder);
    while (!QFileInfo::exists(existing)) {
        const QString parent = QFileInfo(existing).path();
        if (parent == existing)
            return false;
        existing = parent;
    }
    const QString real = QFileInfo(existing).canonicalFilePath();
    return real == base || real.startsWith(base + QLatin1Char('/'));
}

QString LanguageFilePath(const QString& programFolder)
{
    if (QFileInfo::exists(InstallationFile::Language))
        return InstallationFile::Language;
    const QString beside = QDir(programFolder).filePath(InstallationFile::Language);
    return QFileInfo::exists(beside) ? beside : InstallationFile::Language;
}
