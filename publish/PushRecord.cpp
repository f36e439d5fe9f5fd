#include "PushRecord.h"

#include "AtomicFile.h"
#include "PublishError.h"
#include "trust/Sha256.h"

#include <QFile>

#include <algorithm>

namespace {

const QByteArray Header = "renewel-publish push record 1";

}  // namespace

PushRecord PushRecord::read(const QString& releasesDir, const QString& remote)
{
    PushRecord record;
    record.remote_ = remote;
    record.path_ = releasesDir + QStringLiteral("/.push-") + QString::fromLatin1(Sha256::hash(remote.toUtf8()).toHex().left(16))
        + QStringLiteral(".record");
    QFile file(record.path_);
    if (!file.open(QIODevice::ReadOnly))
        return record;
    const QList<QByteArray> lines = file.readAll().split('\n');
    bool ok = false;
    if (lines.size() < 4 || lines[0] != Header || lines[1] != "remote " + remote.toUtf8() || !lines.last().isEmpty())
        return record;
    const int completed = lines[2].startsWith("completed ") ? lines[2].mid(10).toInt(&ok) : 0;
    if (!ok)
        return record;
    for (qsizetype i = 3; i + 1 < lines.size(); ++i) {
        const qsizetype space = lines[i].indexOf(' ');
        const int push = lines[i].left(space).toInt(&ok);
        if (space < 0 || !ok)
            return record;
        record.objects_.insert(QString::fromUtf8(lines[i].mid(space + 1)), push);
    }
    record.completed_ = completed;
    return record;
}

void PushRecord::write() const
{
    QByteArray text = Header + "\nremote " + remote_.toUtf8() + "\ncompleted " + QByteArray::number(completed_) + '\n';
    for (auto it = objects_.begin(); it != objects_.end(); ++it)
        text += QByteArray::number(it.value()) + ' ' + it.key().toUtf8() + '\n';
    if (const Status written = replaceFile(path_, text); !written)
        throw PublishError{path_, written.error()};
}

void PushRecord::hold(const QStringList& objects)
{
    for (const QString& object : objects)
        objects_.insert(object, current());
}

QStringList PushRecord::unneeded(int keep) const
{
    QStringList old;
    for (auto it = objects_.begin(); it != objects_.end(); ++it) {
        if (it.value() <= completed_ - keep - 1)
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
