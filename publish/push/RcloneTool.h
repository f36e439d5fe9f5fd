#pragma once
// Running the rclone tool: one call per step of a push, its log read as JSON lines so that what it
// sent and deleted can be reported.

#include <QJsonObject>
#include <QString>
#include <QStringList>

struct RcloneRun {
    QStringList copied;   // objects sent
    QStringList deleted;  // objects deleted
};

class RcloneTool {
public:
    // Finds the tool; throws PublishError when it is not installed.
    RcloneTool();

    // Runs "rclone ARGS" with JSON logging; throws PublishError with rclone's last error on failure.
    RcloneRun run(const QStringList& args) const;
    // What rclone knows of the remote ("rclone backend features"); throws PublishError when it
    // knows no such remote.
    QJsonObject features(const QString& remote) const;
    // The flags that make rclone tell changed objects from unchanged ones on a remote with these
    // features: its default (size and modification time) where the remote keeps times, else
    // checksums, else every object is sent again (size alone would miss a change that keeps it).
    static QStringList comparisonFlags(const QJsonObject& features);
    // The folder of a remote on the local file system (a path, ":local:", or a remote configured
    // as one); empty for any other.
    static QString localFolder(const QJsonObject& features);

private:
    QString tool_;
};
