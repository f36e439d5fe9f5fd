#include "ReleaseFiles.h"

#include "site/ListedPath.h"
#include "site/SiteFiles.h"
#include "PublishError.h"

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QHash>

#include <algorithm>

namespace {

bool pathLess(const ReleaseFile& a, const ReleaseFile& b)
{
    const QList<QByteArray> left = a.listed.split('\\');
    const QList<QByteArray> right = b.listed.split('\\');
    return std::lexicographical_compare(left.begin(), left.end(), right.begin(), right.end());
}

}  // namespace

QList<ReleaseFile> scanRelease(const QString& releaseDir)
{
    const QDir root(QFileInfo(releaseDir).absoluteFilePath());
    QList<ReleaseFile> files;
    QHash<QByteArray, QString> folded;  // lower-case listed path -> the path that took it
    QDirIterator it(root.path(), QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden | QDir::System,
                    QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QFileInfo info = it.nextFileInfo();
        const QString relative = root.relativeFilePath(info.filePath());
        if (info.isSymLink())
            throw PublishError{relative, QStringLiteral("symbolic link; only regular files are published")};
        if (info.isDir()) {
            // The iteration would skip an unreadable folder, and its files with it.
            if (!info.isReadable() || !info.isExecutable())
                throw PublishError{relative, QStringLiteral("cannot read the folder")};
            continue;
        }
        if (!info.isFile())
            throw PublishError{relative, QStringLiteral("not a regular file")};

        const QByteArray bytes = QFile::encodeName(relative);
        if (bytes.contains('\\'))
            throw PublishError{relative, QStringLiteral("a backslash in a name would split it into folders")};
        QByteArray listed = '\\' + bytes;
        listed.replace('/', '\\');
        if (!ListedPath(listed).isSafe())
            throw PublishError{relative, QStringLiteral("the updater refuses this path (such as a name ending "
                                                        "in a dot or a space, a colon, a control character)")};
        if (IsReservedListedPath(listed))
            throw PublishError{relative, QStringLiteral("the update site or the updater has a file of its own by this "
                                                        "name (see the README on releasing renewel itself)")};
        const QByteArray key = listed.toLower();
        if (folded.contains(key))
            throw PublishError{relative, QStringLiteral("differs from %1 only in letter case (one file on Windows)")
                                             .arg(folded.value(key))};
        folded.insert(key, relative);
        files.append({info.filePath(), relative, listed});
    }
    std::sort(files.begin(), files.end(), pathLess);
    return files;
}
