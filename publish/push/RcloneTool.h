#pragma once
// Running the rclone tool: one call per step of a push, its log read as JSON lines so that what it
// sent and deleted can be reported.

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
    // The flags that make rclone tell changed objects from unchanged ones on this remote: its
    // default (size and modification time) where the remote keeps times, else checksums, else
    // every object is sent again (size alone would miss a change that keeps it).
    QStringList comparisonFlags(const QString& remote) const;

private:
    QString tool_;
};
