#pragma once
// Running the rclone tool: one call per step of a push, its log read as JSON lines as they come,
// so that each object sent or deleted is known the moment rclone reports it.

#include <QHash>
#include <QJsonObject>
#include <QString>
#include <QStringList>

#include <functional>

struct RcloneEvent {
    enum class Kind { Copied, Moved, Deleted };
    Kind kind;
    QString object;  // as rclone names it: relative to the source or remote given
};

class RcloneTool {
public:
    using Listener = std::function<void(const RcloneEvent&)>;

    // Finds the tool; throws PublishError when it is not installed.
    RcloneTool();

    // Runs "rclone ARGS" with JSON logging, telling listener of each object copied, moved or
    // deleted as rclone logs it; throws PublishError with rclone's last error on failure.
    void run(const QStringList& args, const Listener& listener = {}) const;
    // Every object below remote with its size, from one listing; empty when the remote's folder
    // does not exist yet. Throws PublishError.
    QHash<QString, qint64> list(const QString& remote) const;
    // What rclone knows of the remote ("rclone backend features"); throws PublishError when it
    // knows no such remote.
    QJsonObject features(const QString& remote) const;
    // The folder of a remote on the local file system (a path, ":local:", or a remote configured
    // as one); empty for any other.
    static QString localFolder(const QJsonObject& features);

private:
    QString tool_;
};
