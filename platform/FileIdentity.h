#pragma once
// What identifies one state of a file without reading it: size, modification and change time,
// device and inode. Two identities are equal only when all five are.

#include <QString>

#include <optional>

struct FileIdentity {
    qint64 size = 0;
    qint64 mtimeNs = 0;
    qint64 ctimeNs = 0;
    quint64 device = 0;
    quint64 inode = 0;
    bool operator==(const FileIdentity&) const = default;

    // The same identity with no change time, for records that keep none (renewel.state).
    FileIdentity withoutChangeTime() const
    {
        FileIdentity copy = *this;
        copy.ctimeNs = 0;
        return copy;
    }
};

// Whether a link at a path's last component is followed or taken as what stands there.
enum class Links { Follow, Refuse };

namespace platform {

// The identity of the regular file at path; nothing for anything else (and, with Links::Refuse,
// nothing for a link).
std::optional<FileIdentity> identityOf(const QString& path, Links links);

}  // namespace platform
