#include "common/SiteFileReading.h"

QString openFailure(const RegularFile& file)
{
    return file.failure() == RegularFile::Failure::Missing ? QStringLiteral("missing") : file.reason();
}

RegularFile openSiteFile(const QString& path) { return RegularFile::open(path, RegularFile::Access::Read, Links::Follow); }

Result<QByteArray> readSiteFile(const QString& path, qint64 limit)
{
    RegularFile file = openSiteFile(path);
    if (!file)
        return Result<QByteArray>::failure(openFailure(file));
    return file.readWhole(limit);
}
