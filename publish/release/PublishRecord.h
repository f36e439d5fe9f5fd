#pragma once
// The record of the last publish, "SITE_DIR.releases/.publish.record": for each release file its
// path, the identity its source had when it was read (size, modification and change time, device
// and inode), the identity of its copy in the site's release, and its SHA-256. A file whose source
// and site copy still have the recorded identities is not read again: the next release shares the
// copy by a hard link and lists the recorded hash. The record names the release it describes; a
// missing or damaged record, or one of another release, is ignored as a whole.

#include "platform/FileIdentity.h"

#include <QByteArray>
#include <QHash>
#include <QString>

#include <optional>


class PublishRecord {
public:
    struct Entry {
        FileIdentity source;
        FileIdentity site;
        QByteArray sha256;  // 32 bytes
    };

    // The record in the releases folder when it describes the release folder named release.
    static PublishRecord read(const QString& releasesDir, const QString& release);
    // Replaces the record (through a temporary file); throws PublishError.
    void write(const QString& releasesDir, const QString& release) const;

    const Entry* find(const QString& relative) const;
    void add(const QString& relative, const Entry& entry) { entries_.insert(relative, entry); }

private:
    QHash<QString, Entry> entries_;
};
