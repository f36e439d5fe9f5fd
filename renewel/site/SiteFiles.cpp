#include "site/SiteFiles.h"

bool IsReservedListedPath(const QByteArray& listed)
{
    if (!listed.startsWith('\\'))
        return false;
    qsizetype end = 1;  // the first folder or file the path names ends here
    while (end < listed.size() && listed[end] != '\\' && listed[end] != '/')
        ++end;
    const QString name = QString::fromLatin1(listed.mid(1, end - 1));
    if (name.compare(InstallationFile::ChunkLists, Qt::CaseInsensitive) == 0)
        return true;
    if (end < listed.size())
        return false;
    for (const QString& reserved : {SiteFile::List, SiteFile::Sums, SiteFile::Signature, InstallationFile::Language,
                                    InstallationFile::Stamp, InstallationFile::Lock, InstallationFile::State}) {
        if (name.compare(reserved, Qt::CaseInsensitive) == 0)
            return true;
    }
    return false;
}
