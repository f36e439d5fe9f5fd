#include "push/PushRecord.h"

#include "AtomicFile.h"
#include "common/PublishError.h"
#include "common/SiteFileReading.h"
#include "trust/Sha256.h"

#include <QFile>

#include <algorithm>

namespace {

// Version 1 lacks the digests: its objects are read with none, so each is sent once more.
const QByteArray HeaderV1 = "renewel-publish push record 1";
const QByteArray Header = "renewel-publish push record 2";
const QByteArray NoDigest = "-";

}  // namespace

PushRecord PushRecord::read(const QString& releasesDir, const QString& remote)
{
    PushRecord record;
    record.remote_ = remote;
    record.path_ = releasesDir + QStringLiteral("/.push-") + QString::fromLatin1(Sha256::hash(remote.toUtf8()).toHex().left(16))
        + QStringLiteral(".record");
    const Result<QByteArray> text = readSiteFile(record.path_, SiteFileLimit);
    if (!text)
        return record;
    const QList<QByteArray> lines = text->split('\n');
    bool ok = false;
    if (lines.size() < 4 || (lines[0] != Header && lines[0] != HeaderV1) || lines[1] != "remote " + remote.toUtf8()
        || !lines.last().isEmpty())
        return record;
    const bool digests = lines[0] == Header;
    const int completed = lines[2].startsWith("completed ") ? lines[2].mid(10).toInt(&ok) : 0;
    if (!ok)
        return record;
    for (qsizetype i = 3; i + 1 < lines.size(); ++i) {
        if (!record.parseObject(lines[i], digests))
            return record;
    }
    record.completed_ = completed;
    return record;
}

// "PUSH DIGEST OBJECT" (version 1: "PUSH OBJECT"); the object last, as it may hold spaces.
bool PushRecord::parseObject(const QByteArray& line, bool digests)
{
    const qsizetype space = line.indexOf(' ');
    if (space < 0)
        return false;
    Object object;
    bool ok = false;
    object.push = line.left(space).toInt(&ok);
    qsizetype name = space + 1;
    if (digests) {
        const qsizetype end = line.indexOf(' ', name);
        const QByteArray hex = line.mid(name, end - name);
        object.digest = QByteArray::fromHex(hex);
        if (end < 0 || (hex != NoDigest && (hex.size() != 2 * Sha256::Size || object.digest.toHex() != hex)))
            return false;
        if (hex == NoDigest)
            object.digest.clear();
        name = end + 1;
    }
    if (!ok)
        return false;
    objects_.insert(QString::fromUtf8(line.mid(name)), object);
    return true;
}

void PushRecord::write() const
{
    QByteArray text = Header + "\nremote " + remote_.toUtf8() + "\ncompleted " + QByteArray::number(completed_) + '\n';
    for (auto it = objects_.begin(); it != objects_.end(); ++it)
        text += QByteArray::number(it->push) + ' ' + (it->digest.isEmpty() ? NoDigest : it->digest.toHex()) + ' '
            + it.key().toUtf8() + '\n';
    if (const Status written = replaceFile(path_, text); !written)
        throw PublishError{path_, written.error()};
}

void PushRecord::hold(const QStringList& objects)
{
    for (const QString& object : objects)
        objects_[object].push = current();
}

QStringList PushRecord::unneeded(int keep) const
{
    QStringList old;
    for (auto it = objects_.begin(); it != objects_.end(); ++it) {
        if (it->push <= completed_ - keep - 1)
            old.append(it.key());
    }
    std::sort(old.begin(), old.end());
    return old;
}

void PushRecord::forget(const QStringList& objects)
{
    for (const QString& object : objects)
        objects_.remove(object);
}

void PushRecord::setSent(const QString& object, const QByteArray& digest)
{
    const auto it = objects_.find(object);
    if (it != objects_.end())
        it->digest = digest;
}
