#include "UpdateStamp.h"

#include <QDir>
#include <QFile>
#include <QSaveFile>

namespace {
// Larger files are not a stamp; reading stops there.
constexpr qint64 MaxStampSize = 64;
}

QString updateStampPath(const QString& programFolder)
{
    return QDir(programFolder).filePath(QStringLiteral("renewel.stamp"));
}

std::optional<qint64> readUpdateStamp(const QString& programFolder, QString* problem)
{
    QFile file(updateStampPath(programFolder));
    if (!file.exists())
        return std::nullopt;
    const auto fail = [&](const QString& why) {
        if (problem)
            *problem = why;
        return std::nullopt;
    };
    if (!file.open(QIODevice::ReadOnly))
        return fail(file.errorString());
    QByteArray text = file.read(MaxStampSize + 1);
    if (text.endsWith('\n'))
        text.chop(text.endsWith("\r\n") ? 2 : 1);
    bool ok = !text.isEmpty() && text.size() <= 18;
    for (const char c : text)
        ok = ok && c >= '0' && c <= '9';
    if (!ok)
        return fail(QStringLiteral("not one decimal line"));
    return text.toLongLong();
}

bool writeUpdateStamp(const QString& programFolder, qint64 timestamp, QString* error)
{
    QSaveFile file(updateStampPath(programFolder));
    const QByteArray line = QByteArray::number(timestamp) + '\n';
    if (file.open(QIODevice::WriteOnly) && file.write(line) == line.size() && file.commit())
        return true;
    if (error)
        *error = file.errorString();
    file.cancelWriting();
    return false;
}
