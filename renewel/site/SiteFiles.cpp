#include "site/SiteFiles.h"

#include "site/ListedPath.h"

bool IsReservedListedPath(const QByteArray& listed)
{
    if (!listed.startsWith('\\'))
        return false;
    // Folded in full, as the paths of a list are compared: "\Renewel.ſtate" is renewel.state.
    const QString key = ListedPath::foldedKey(listed);
    const qsizetype end = key.indexOf(QLatin1Char('\\'), 1);  // the first folder or file ends here
    const QString name = key.mid(1, end < 0 ? -1 : end - 1);
    if (name == InstallationFile::ChunkLists.toCaseFolded())
        return true;
    if (end >= 0)
        return false;
    for (const QString& reserved : {SiteFile::List, SiteFile::Sums, SiteFile::Signature, SiteFile::Head,
                                    InstallationFile::Language, InstallationFile::Stamp, InstallationFile::Lock,
                                    InstallationFile::State, InstallationFile::Head}) {
        if (name == reserved.toCaseFolded())
            return true;
    }
    return false;
}
