#include "site/SiteFiles.h"

bool IsReservedListedPath(const QByteArray& listed)
{
    if (!listed.startsWith('\\') || listed.indexOf('\\', 1) >= 0 || listed.indexOf('/') >= 0)
        return false;
    const QString name = QString::fromLatin1(listed.mid(1));
    for (const QString& reserved : {SiteFile::List, SiteFile::Sums, SiteFile::Signature, InstallationFile::Language,
                                    InstallationFile::Stamp, InstallationFile::Lock, InstallationFile::State}) {
        if (name.compare(reserved, Qt::CaseInsensitive) == 0)
            return true;
    }
    return false;
}
