#include "push/RcloneTool.h"

#include "common/PublishError.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QStandardPaths>

namespace {

// rclone's "modification times not supported" precision: 100 years in nanoseconds.
constexpr double NoModTimePrecision = 3153600000000000000.0;

}  // namespace

RcloneTool::RcloneTool() : tool_(QStandardPaths::findExecutable(QStringLiteral("rclone")))
{
    if (tool_.isEmpty())
        throw PublishError{QStringLiteral("rclone"), QStringLiteral("not found (install the rclone package)")};
}

RcloneRun RcloneTool::run(const QStringList& args) const
{
    QProcess process;
    process.setStandardInputFile(QProcess::nullDevice());
    process.start(tool_, QStringList{QStringLiteral("--use-json-log"), QStringLiteral("-v"), QStringLiteral("--stats"),
                                     QStringLiteral("0")} + args);
    process.waitForFinished(-1);
    RcloneRun result;
    QString lastError;
    for (const QByteArray& line : process.readAllStandardError().split('\n')) {
        const QJsonObject entry = QJsonDocument::fromJson(line).object();
        const QString message = entry.value(QStringLiteral("msg")).toString();
        const QString object = entry.value(QStringLiteral("object")).toString();
        if (message.startsWith(QStringLiteral("Copied")) && !object.isEmpty())
            result.copied.append(object);
        else if (message == QStringLiteral("Deleted") && !object.isEmpty())
            result.deleted.append(object);
        else if (entry.value(QStringLiteral("level")).toString() == QStringLiteral("error"))
            lastError = object.isEmpty() ? message : object + QStringLiteral(": ") + message;
        else if (entry.isEmpty() && !line.trimmed().isEmpty())
            lastError = QString::fromLocal8Bit(line).simplified();
    }
    if (process.exitStatus() != QProcess::NormalExit || process.exitCode() != 0) {
        if (lastError.isEmpty())
            lastError = process.error() == QProcess::FailedToStart ? process.errorString()
                                                                    : QStringLiteral("failed (exit status %1)").arg(process.exitCode());
        throw PublishError{QStringLiteral("rclone ") + args.value(0), lastError};
    }
    return result;
}

QJsonObject RcloneTool::features(const QString& remote) const
{
    QProcess process;
    process.setStandardInputFile(QProcess::nullDevice());
    process.start(tool_, {QStringLiteral("backend"), QStringLiteral("features"), remote});
    process.waitForFinished(-1);
    const QJsonObject features = QJsonDocument::fromJson(process.readAllStandardOutput()).object();
    if (process.exitCode() != 0 || features.isEmpty())
        throw PublishError{remote, QStringLiteral("rclone: ")
                                       + QString::fromLocal8Bit(process.readAllStandardError()).simplified()};
    return features;
}

QStringList RcloneTool::comparisonFlags(const QJsonObject& features)
{
    if (features.value(QStringLiteral("Precision")).toDouble() < NoModTimePrecision)
        return {};
    if (!features.value(QStringLiteral("Hashes")).toArray().isEmpty())
        return {QStringLiteral("--checksum")};
    return {QStringLiteral("--ignore-times")};
}

QString RcloneTool::localFolder(const QJsonObject& features)
{
    if (!features.value(QStringLiteral("String")).toString().startsWith(QStringLiteral("Local file system at ")))
        return {};
    return features.value(QStringLiteral("Root")).toString();
}
