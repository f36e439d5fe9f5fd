#pragma once
// The small files a launcher reads instead of the lists when it can: update.head (the lists'
// digests, signed with the same trusted comment as update.sums, its signature inside), and the
// lists gzip-compressed beside themselves (update.txt.gz, update.sums.gz) for a server that
// sends a precompressed copy where the client accepts it (nginx's gzip_static).

#include <QByteArray>
#include <QString>

#include <optional>

// Writes target/update.head for target's update.txt and update.sums. Its modification time is
// made later, by whole seconds, than that of the head in `previous` (the release it replaces;
// empty: none): a server's validator built from time and size (nginx's ETag) then changes with
// every head, even two written within one second, so a player is never told "not modified" of
// a head it has not seen. Throws PublishError.
void writeSignedHead(const QString& tool, const QString& secretKey, const std::optional<QByteArray>& password,
                     const QString& target, const QByteArray& trustedComment, const QString& previous);

// Writes target/update.txt.gz and target/update.sums.gz. Throws PublishError.
void writeCompressedLists(const QString& target);
