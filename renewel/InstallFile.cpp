#include "InstallFile.h"

#include <QFile>
#include <QFileInfo>
#include <QDir>
#include <QRandomGenerator>
#include <QRegularExpression>

#ifdef Q_OS_WIN
#include <io.h>
#include <windows.h>
#else
#include <cstdio>
#include <fcntl.h>
#include <unistd.h>
#endif

namespace {
bool flushToDisk(QFile& file)
{
    if (!file.flush())
        return false;
#ifdef Q_OS_WIN
    return FlushFileBuffers(reinterpret_cast<HANDLE>(_get_osfhandle(file.handle()))) != 0;
#else
    return ::fsync(file.handle()) == 0;
#endif
}

bool renameOnly(const QString& from, const QString& to)
{
#ifdef Q_OS_WIN
    return MoveFileExW(reinterpret_cast<const wchar_t*>(from.utf16()),
                       reinterpret_cast<const wchar_t*>(to.utf16()),
                       MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) != 0;
#else
    return ::rename(QFile::encodeName(from).constData(), QFile::encodeName(to).constData()) == 0;
#endif
}

bool renameOver(const QString& from, const QString& to)
{
    if (!renameOnly(from, to))
        return false;
    SyncFolder(QFileInfo(to).absolutePath());  // make the rename itself durable
    return true;
}

bool copyContent(QFile& in, QFile& out)
{
    char buffer[64 * 1024];
    for (;;) {
        const qint64 got = in.read(buffer, sizeof buffer);
        if (got < 0)
            return false;
        if (got == 0)
            return true;
        if (out.write(buffer, got) != got)
            return false;
    }
}
}  // namespace

void SyncFolder(const QString& folder)
{
#ifndef Q_OS_WIN
    const int dir = ::open(QFile::encodeName(folder).constData(), O_RDONLY);
    if (dir >= 0) {
        ::fsync(dir);
        ::close(dir);
    }
#else
    Q_UNUSED(folder);
#endif
}

bool MoveInto(const QString& source, const QString& target)
{
    const QFileInfo existing(target);
    if (existing.isFile())
        QFile::setPermissions(source, existing.permissions());
    return renameOnly(source, target);
}

bool InstallFile(const QString& source, const QString& target)
{
    QFile in(source);
    if (!in.open(QIODevice::ReadOnly))
        return false;
    const QString temp = target + QStringLiteral(".%1.tmp")
                                      .arg(QRandomGenerator::global()->generate64(), 16, 16, QLatin1Char('0'));
    QFile out(temp);
    if (!out.open(QIODevice::WriteOnly | QIODevice::NewOnly))
        return false;
    const QFileInfo existing(target);
    bool ok = copyContent(in, out) && flushToDisk(out);
    if (ok && existing.isFile())
        out.setPermissions(existing.permissions());  // best effort: content matters more
    out.close();
    ok = ok && renameOver(temp, target);
    if (!ok)
        QFile::remove(temp);
    return ok;
}

void TInstallLeftovers::RemoveFor(const QString& target)
{
    const QFileInfo info(target);
    const QString folder = info.absolutePath();
    auto it = folders_.find(folder);
    if (it == folders_.end()) {
        static const QRegularExpression temporary(QStringLiteral("^(.+)\\.[0-9a-f]{16}\\.tmp$"));
        QHash<QString, QStringList> found;
        const QStringList names = QDir(folder).entryList({QStringLiteral("*.tmp")}, QDir::Files | QDir::Hidden);
        for (const QString& name : names) {
            const QRegularExpressionMatch m = temporary.match(name);
            if (m.hasMatch())
                found[m.captured(1)] << name;
        }
        it = folders_.insert(folder, found);
    }
    const QStringList leftovers = it->take(info.fileName());
    for (const QString& name : leftovers)
        QFile::remove(folder + QLatin1Char('/') + name);
}
