#include "push/RcloneTool.h"

#include "common/PublishError.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QStandardPaths>

#include <optional>

namespace {

// rclone's exit status for "directory not found".
constexpr int DirectoryNotFound = 3;

// Reads rclone's JSON log line by line as it arrives: events go to the listener, the last error
// is kept for the failure's reason.
class LogReader {
public:
    explicit LogReader(const RcloneTool::Listener& listener) : listener_(listener) {}

    void feed(const QByteArray& bytes)
    {
        pending_ += bytes;
        for (qsizetype end = pending_.indexOf('\n'); end >= 0; end = pending_.indexOf('\n')) {
            line(pending_.left(end));
            pending_.remove(0, end + 1);
        }
    }
    void finish() { line(std::exchange(pending_, {})); }
    const QString& lastError() const { return lastError_; }

private:
    void line(const QByteArray& text)
    {
        const QJsonObject entry = QJsonDocument::fromJson(text).object();
        const QString message = entry.value(QStringLiteral("msg")).toString();
        const QString object = entry.value(QStringLiteral("object")).toString();
        if (const std::optional<RcloneEvent::Kind> kind = kindOf(message); kind && !object.isEmpty()) {
            if (listener_)
                listener_({*kind, object});
        } else if (entry.value(QStringLiteral("level")).toString() == QStringLiteral("error")) {
            lastError_ = object.isEmpty() ? message : object + QStringLiteral(": ") + message;
        } else if (entry.isEmpty() && !text.trimmed().isEmpty()) {
            lastError_ = QString::fromLocal8Bit(text).simplified();
        }
    }

    static std::optional<RcloneEvent::Kind> kindOf(const QString& message)
    {
        if (message.startsWith(QStringLiteral("Copied")))
            return RcloneEvent::Kind::Copied;
        if (message.startsWith(QStringLiteral("Moved")))
            return RcloneEvent::Kind::Moved;
        if (message == QStringLiteral("Deleted"))
            return RcloneEvent::Kind::Deleted;
        return std::nullopt;
    }

    const RcloneTool::Listener& listener_;
    QByteArray pending_;
    QString lastError_;
};

QString failureReason(const QProcess& process, const QString& lastError)
{
    if (!lastError.isEmpty())
        return lastError;
    if (process.error() == QProcess::FailedToStart)
        return process.errorString();
    return QStringLiteral("failed (exit status %1)").arg(process.exitCode());
}

}  // namespace

RcloneTool::RcloneTool() : tool_(QStandardPaths::findExecutable(QStringLiteral("rclone")))
{
    if (tool_.isEmpty())
        throw PublishError{QStringLiteral("rclone"), QStringLiteral("not found (install the rclone package)")};
}

void RcloneTool::run(const QStringList& args, const Listener& listener) const
{
    QProcess process;
    process.setStandardInputFile(QProcess::nullDevice());
    process.setStandardOutputFile(QProcess::nullDevice());
    process.setReadChannel(QProcess::StandardError);
    process.start(tool_, QStringList{QStringLiteral("--use-json-log"), QStringLiteral("-v"), QStringLiteral("--stats"),
                                     QStringLiteral("0")} + args);
    LogReader log(listener);
    if (process.waitForStarted(-1)) {
        while (process.state() != QProcess::NotRunning) {
            process.waitForReadyRead(-1);
            log.feed(process.readAllStandardError());
        }
    }
    log.feed(process.readAllStandardError());
    log.finish();
    if (process.exitStatus() != QProcess::NormalExit || process.exitCode() != 0)
        throw PublishError{QStringLiteral("rclone ") + args.value(0), failureReason(process, log.lastError())};
}

QHash<QString, qint64> RcloneTool::list(const QString& remote) const
{
    QProcess process;
    process.setStandardInputFile(QProcess::nullDevice());
    process.start(tool_, {QStringLiteral("lsf"), QStringLiteral("--recursive"), QStringLiteral("--files-only"),
                          QStringLiteral("--format"), QStringLiteral("sp"), QStringLiteral("--separator"),
                          QStringLiteral(";"), remote});
    process.waitForFinished(-1);
    QHash<QString, qint64> objects;
    if (process.exitStatus() == QProcess::NormalExit && process.exitCode() == DirectoryNotFound)
        return objects;
    if (process.exitStatus() != QProcess::NormalExit || process.exitCode() != 0)
        throw PublishError{remote, QStringLiteral("rclone lsf: ")
                                       + failureReason(process, QString::fromLocal8Bit(process.readAllStandardError()).simplified())};
    for (const QByteArray& line : process.readAllStandardOutput().split('\n')) {
        const qsizetype separator = line.indexOf(';');  // the path last, as it may hold the separator
        if (separator > 0)
            objects.insert(QString::fromUtf8(line.mid(separator + 1)), line.left(separator).toLongLong());
    }
    return objects;
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

QString RcloneTool::localFolder(const QJsonObject& features)
{
    if (!features.value(QStringLiteral("String")).toString().startsWith(QStringLiteral("Local file system at ")))
        return {};
    return features.value(QStringLiteral("Root")).toString();
}
