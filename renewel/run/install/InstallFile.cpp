#include "run/install/InstallFile.h"

#include "AtomicFile.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

Status MoveInto(const QString& source, const QString& target)
{
    const QFileInfo existing(target);
    if (existing.isFile() && !existing.isSymLink())
        QFile::setPermissions(source, existing.permissions());
    return renameOver(source, target);
}

Status InstallFile(const QString& source, const QString& target)
{
    QFile in(source);
    if (!in.open(QIODevice::ReadOnly))
        return Status::failure(in.errorString());
    return replaceFile(target, [&](QFile& out) {
        QByteArray buffer(1024 * 1024, Qt::Uninitialized);
        for (;;) {
            const qint64 got = in.read(buffer.data(), buffer.size());
            if (got < 0)
                return in.errorString();
            if (got == 0)
                return QString();
            if (out.write(buffer.constData(), got) != got)
                return out.errorString();
        }
    });
}

void InstallLeftovers::removeFor(const QString& target)
{
    const QFileInfo info(target);
    const QString folder = info.absolutePath();
    auto it = folders_.find(folder);
    if (it == folders_.end()) {
        QHash<QString, QStringList> found;
        const QStringList names = QDir(folder).entryList({QStringLiteral("*.tmp")}, QDir::Files | QDir::Hidden);
        for (const QString& name : names) {
            QString of;
            if (IsTemporaryOf(name, &of))
                found[of] << name;
        }
        it = folders_.insert(folder, found);
    }
    const QStringList leftovers = it->take(info.fileName());
    for (const QString& name : leftovers)
        QFile::remove(folder + QLatin1Char('/') + name);
}
