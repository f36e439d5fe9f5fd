#include "TempDir.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <stdexcept>

TempDir::TempDir() : dir_(QDir::tempPath() + "/ivtest-XXXXXX") {}

QString TempDir::write(const QString& name, const QByteArray& bytes) const
{
    const QString p = filePath(name);
    QDir().mkpath(QFileInfo(p).absolutePath());
    QFile f(p);
    if (!f.open(QIODevice::WriteOnly | QIODevice::Truncate) || f.write(bytes) != bytes.size())
        throw std::runtime_error("cannot write " + p.toStdString());
    return p;
}

QByteArray TempDir::read(const QString& name) const
{
    QFile f(filePath(name));
    if (!f.open(QIODevice::ReadOnly))
        return {};
    return f.readAll();
}

bool TempDir::exists(const QString& name) const { return QFileInfo::exists(filePath(name)); }

qint64 TempDir::size(const QString& name) const
{
    QFileInfo fi(filePath(name));
    return fi.exists() ? fi.size() : -1;
}
