#include "release/ReleaseFiles.h"

#include "site/ListedPath.h"
#include "site/SiteFiles.h"
#include "common/PublishError.h"
#include "SafeText.h"
#include "platform/OpenFolder.h"

#include <QFile>
#include <QFileInfo>
#include <QHash>

#include <algorithm>

namespace {

// Component by component in byte order: the same as comparing the bytes with the separator
// ranked below every byte a name can hold, which needs no splitting.
bool pathLess(const ReleaseFile& a, const ReleaseFile& b)
{
    const auto rank = [](char c) { return c == '\\' ? -1 : int(uchar(c)); };
    return std::lexicographical_compare(a.listed.begin(), a.listed.end(), b.listed.begin(), b.listed.end(),
                                        [&](char x, char y) { return rank(x) < rank(y); });
}

// Why a name the site or renewel keeps for itself can't be a release file.
QString reservedReason(const QByteArray& name)
{
    for (const QString& list : {SiteFile::List, SiteFile::Sums, SiteFile::Signature, SiteFile::Head,
                                SiteFile::compressed(SiteFile::List), SiteFile::compressed(SiteFile::Sums)}) {
        if (QString::fromUtf8(name).compare(list, Qt::CaseInsensitive) == 0)
            return QStringLiteral("the update site's own list file has this name; rename the release file");
    }
    return QStringLiteral("renewel's own file in each player's game folder has this name (its settings, key or "
                          "records); a release may not replace it. renewel and renewel.lng ship with the game's "
                          "installer (see \"A release of renewel itself\" in the README)");
}

// Walks the release with the names' own bytes (a name that is not UTF-8 must be seen to be
// refused). Each folder is opened in its parent without following a link, so a folder swapped
// for a link while the release is read is refused as a link, never walked into.
class Scan {
public:
    explicit Scan(const QString& releaseDir) : root_(QFileInfo(releaseDir).absoluteFilePath()) {}

    QList<ReleaseFile> run()
    {
        folder(OpenFolder::open(root_), {});
        std::sort(files_.begin(), files_.end(), pathLess);
        return files_;
    }

private:
    void folder(const OpenFolder& open, const QByteArray& relative)
    {
        const QByteArray subject = relative.isEmpty() ? QFile::encodeName(root_) : relative;
        if (!open.isOpen())
            throw PublishError{subject, QStringLiteral("cannot read the folder: ") + open.reason()};
        const Result<QList<OpenFolder::Entry>> entries = open.entries();
        if (!entries)
            throw PublishError{subject, QStringLiteral("cannot read the folder: ") + entries.error()};
        for (const OpenFolder::Entry& entry : *entries) {
            const QByteArray inner = relative.isEmpty() ? entry.name : relative + '/' + entry.name;
            if (!entry.name.isValidUtf8())
                throw PublishError{inner, QStringLiteral("the name is not valid UTF-8 (the players' updaters read paths "
                                                         "as text)")};
            switch (entry.kind) {
            case OpenFolder::Entry::Kind::Link:
                throw PublishError{inner, QStringLiteral("symbolic link; only regular files are published")};
            case OpenFolder::Entry::Kind::Folder:
                folder(open.inner(entry.name), inner);
                break;
            case OpenFolder::Entry::Kind::File:
                file(inner, entry.identity);
                break;
            case OpenFolder::Entry::Kind::Other:
                throw PublishError{inner, QStringLiteral("not a regular file")};
            }
        }
    }

    void file(const QByteArray& relative, const FileIdentity& identity)
    {
        if (relative.contains('\\'))
            throw PublishError{relative, QStringLiteral("a backslash in a name would split it into folders")};
        const QString text = QString::fromUtf8(relative);
        const QByteArray listed = ListedPath::fromRelative(text);
        if (!ListedPath(listed).isSafe())
            throw PublishError{relative, QStringLiteral("the updater refuses this path (such as a name ending "
                                                        "in a dot or a space, a colon, a control character)")};
        if (IsReservedListedPath(listed))
            throw PublishError{relative, reservedReason(relative)};
        // Folded as the updater folds (full Unicode case folding): "Ä.dat" and "ä.dat" are one file
        // on the players' file systems.
        const QString key = ListedPath::foldedKey(listed);
        if (folded_.contains(key))
            throw PublishError{relative, QStringLiteral("differs from %1 only in letter case (one file on Windows)")
                                             .arg(QString::fromUtf8(SafeText(folded_.value(key), StrayBytes::Escape)))};
        folded_.insert(key, relative);
        files_.append({root_ + '/' + text, text, listed, identity});
    }

    QString root_;
    QList<ReleaseFile> files_;
    QHash<QString, QByteArray> folded_;  // folded key of the listed path -> the path that took it
};

}  // namespace

QList<ReleaseFile> scanRelease(const QString& releaseDir) { return Scan(releaseDir).run(); }
