#include "AtomicFile.h"

#include "platform/FileIO.h"
#include "platform/Folders.h"
#include "platform/SystemError.h"

#include <QFile>
#include <QFileInfo>
#include <QRandomGenerator>
#include <QRegularExpression>

#include <cerrno>
#include <cstdio>

#ifdef Q_OS_WIN
#include <io.h>
#include <windows.h>
#endif

namespace {
QString temporaryName(const QString& target)
{
    return target + QStringLiteral(".%1.tmp").arg(QRandomGenerator::global()->generate64(), 16, 16, QLatin1Char('0'));
}

// Writes, flushes and closes; an empty text or the reason.
QString fill(QFile& file, const std::function<QString(QFile&)>& write, bool durable)
{
    QString why = write(file);
    if (why.isEmpty() && !file.flush())
        why = file.errorString();
#ifndef Q_OS_WIN
    if (why.isEmpty() && durable)
        why = platform::syncFile(file.handle()).error();
#else
    if (why.isEmpty() && durable && !FlushFileBuffers(reinterpret_cast<HANDLE>(_get_osfhandle(file.handle()))))
        why = QStringLiteral("cannot flush the file");
#endif
    return why;
}
}  // namespace

void SyncFolder(const QString& folder)
{
#ifndef Q_OS_WIN
    (void)platform::syncFolder(folder);  // file systems that cannot sync a folder are not an error
#else
    Q_UNUSED(folder);
#endif
}

Status renameOver(const QString& from, const QString& to)
{
#ifdef Q_OS_WIN
    if (MoveFileExW(reinterpret_cast<const wchar_t*>(from.utf16()), reinterpret_cast<const wchar_t*>(to.utf16()),
                    MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH))
        return {};
    return Status::failure(QStringLiteral("cannot rename the file"));
#else
    // rename() replaces a link at `to` itself and never writes through it.
    if (::rename(QFile::encodeName(from).constData(), QFile::encodeName(to).constData()) == 0)
        return {};
    return Status::failure(systemReason(errno));
#endif
}

Status replaceFile(const QString& target, const std::function<QString(QFile&)>& write, bool durable)
{
    const QString temp = temporaryName(target);
    QFile out(temp);
    errno = 0;
    if (!out.open(QIODevice::WriteOnly | QIODevice::NewOnly))
        return Status::failure(errno ? systemReason(errno) : out.errorString());
    QString why = fill(out, write, durable);
    const QFileInfo existing(target);
    if (why.isEmpty() && existing.isFile() && !existing.isSymLink())
        out.setPermissions(existing.permissions());  // content matters more than this
    out.close();
    if (why.isEmpty()) {
        const Status renamed = renameOver(temp, target);
        why = renamed.error();
    }
    if (!why.isEmpty()) {
        QFile::remove(temp);
        return Status::failure(why);
    }
    if (durable)
        SyncFolder(QFileInfo(target).absolutePath());
    return {};
}

Status replaceFile(const QString& target, const QByteArray& bytes, bool durable)
{
    return replaceFile(
        target,
        [&](QFile& file) -> QString {
#ifndef Q_OS_WIN
            // Past QFile's buffer: a write a full disk cuts short leaves QFile without a reason
            // ("Unknown error"), while the system's is kept here.
            return platform::writeAll(file.handle(), bytes) ? QString() : systemReason(errno);
#else
            return file.write(bytes) == bytes.size() ? QString() : file.errorString();
#endif
        },
        durable);
}

bool IsTemporaryOf(const QString& name, QString* target)
{
    static const QRegularExpression temporary(QStringLiteral("^(.+)\\.[0-9a-f]{16}\\.tmp$"));
    const QRegularExpressionMatch m = temporary.match(name);
    if (m.hasMatch() && target)
        *target = m.captured(1);
    return m.hasMatch();
}
