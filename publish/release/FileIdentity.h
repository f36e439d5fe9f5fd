#pragma once
// What identifies one state of a file without reading it: size, modification and change time,
// device and inode.

#include <QString>

#include <optional>

struct stat;

struct FileIdentity {
    qint64 size = 0;
    qint64 mtimeNs = 0;
    qint64 ctimeNs = 0;
    quint64 device = 0;
    quint64 inode = 0;
    bool operator==(const FileIdentity&) const = default;

    static FileIdentity of(const struct stat& status);
};

// The identity of the file at path, not following a link; nothing unless it is a regular file.
std::optional<FileIdentity> identityOf(const QString& path);
