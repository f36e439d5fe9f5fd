#pragma once
// The small files a launcher reads instead of the lists when it can: update.head (the lists'
// digests, signed with the same trusted comment as update.sums, its signature inside), and the
// lists gzip-compressed beside themselves (update.txt.gz, update.sums.gz) for a server that
// sends a precompressed copy where the client accepts it (nginx's gzip_static).

#include <QByteArray>
#include <QString>

#include <optional>

// Writes target/update.head for target's update.txt and update.sums. Throws PublishError.
void writeSignedHead(const QString& tool, const QString& secretKey, const std::optional<QByteArray>& password,
                     const QString& target, const QByteArray& trustedComment);

// Writes target/update.txt.gz and target/update.sums.gz. Throws PublishError.
void writeCompressedLists(const QString& target);
