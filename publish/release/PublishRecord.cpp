#include "release/PublishRecord.h"

#include "AtomicFile.h"
#include "common/PublishError.h"
#include "common/SiteFileReading.h"

#include <QFile>

namespace {

const QByteArray Header = "renewel-publish record 1";
const QString FileName = QStringLiteral(".publish.record");

QByteArray identityText(const FileIdentity& id)
{
    return QByteArray::number(id.size) + ' ' + QByteArray::number(id.mtimeNs) + ' ' + QByteArray::number(id.ctimeNs)
        + ' ' + QByteArray::number(id.device) + ' ' + QByteArray::number(id.inode);
}

// Five numbers from fields[at]; false when one is not a number.
bool parseIdentity(const QList<QByteArray>& fields, int at, FileIdentity& id)
{
    bool ok[5] = {};
    id.size = fields[at].toLongLong(&ok[0]);
    id.mtimeNs = fields[at + 1].toLongLong(&ok[1]);
    id.ctimeNs = fields[at + 2].toLongLong(&ok[2]);
    id.device = fields[at + 3].toULongLong(&ok[3]);
    id.inode = fields[at + 4].toULongLong(&ok[4]);
    return ok[0] && ok[1] && ok[2] && ok[3] && ok[4];
}

}  // namespace

PublishRecord PublishRecord::read(const QString& releasesDir, const QString& release)
{
    const Result<QByteArray> text = readSiteFile(releasesDir + '/' + FileName, SiteFileLimit);
    if (release.isEmpty() || !text)
        return {};
    const QList<QByteArray> lines = text->split('\n');
    if (lines.size() < 3 || lines[0] != Header || lines[1] != "release " + release.toUtf8() || !lines.last().isEmpty())
        return {};
    PublishRecord record;
    for (qsizetype i = 2; i + 1 < lines.size(); ++i) {
        // size mtime ctime device inode (source), the same of the site's copy, hash, path
        const QList<QByteArray> fields = lines[i].split(' ');
        Entry entry;
        if (fields.size() < 12 || !parseIdentity(fields, 0, entry.source) || !parseIdentity(fields, 5, entry.site))
            return {};
        entry.sha256 = QByteArray::fromHex(fields[10]);
        if (entry.sha256.size() != 32)
            return {};
        qsizetype pathStart = 11;  // the path follows the eleventh space and may hold spaces itself
        for (int field = 0; field < 11; ++field)
            pathStart += fields[field].size();
        record.entries_.insert(QString::fromUtf8(lines[i].mid(pathStart)), entry);
    }
    return record;
}

void PublishRecord::write(const QString& releasesDir, const QString& release) const
{
    QByteArray text = Header + '\n' + "release " + release.toUtf8() + '\n';
    for (auto it = entries_.begin(); it != entries_.end(); ++it) {
        text += identityText(it->source) + ' ' + identityText(it->site) + ' ' + it->sha256.toHex() + ' '
            + it.key().toUtf8() + '\n';
    }
    const QString path = releasesDir + '/' + FileName;
    if (const Status written = replaceFile(path, text); !written)
        throw PublishError{path, written.error()};
}

const PublishRecord::Entry* PublishRecord::find(const QString& relative) const
{
    const auto it = entries_.find(relative);
    return it == entries_.end() ? nullptr : &*it;
}
