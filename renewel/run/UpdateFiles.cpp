#include "run/UpdateFiles.h"

#include "site/SiteFiles.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <algorithm>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <filesystem>
#include <system_error>

namespace {
bool isSeparator(QChar c) { return c == QLatin1Char('\\') || c == QLatin1Char('/'); }
}  // namespace

namespace {
FileIdentity identityFrom(const struct stat& status)
{
    return {qint64(status.st_size), qint64(status.st_mtim.tv_sec) * 1000000000 + status.st_mtim.tv_nsec,
            quint64(status.st_dev), quint64(status.st_ino)};
}
}  // namespace

qint64 LocalFileSize(const QString& path, FileIdentity* identity)
{
    // Opened for reading and writing as the rule asks, but never created, and never waiting on a
    // pipe or device: only a regular file has a size here.
    const int fd = ::open(QFile::encodeName(path).constData(), O_RDWR | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0)
        return 0;
    struct stat status {};
    const bool regular = ::fstat(fd, &status) == 0 && S_ISREG(status.st_mode);
    ::close(fd);
    if (!regular)
        return 0;
    if (identity)
        *identity = identityFrom(status);
    return qint64(status.st_size);
}

std::optional<FileIdentity> IdentityOf(const QString& path)
{
    struct stat status {};
    if (::stat(QFile::encodeName(path).constData(), &status) != 0 || !S_ISREG(status.st_mode))
        return std::nullopt;
    return identityFrom(status);
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
    std::error_code error;
    std::filesystem::create_directories(QFile::encodeName(dir).toStdString(), error);
    if (error)
        return Status::failure(QString::fromLocal8Bit(error.message()));
    return {};
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
