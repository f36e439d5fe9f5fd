#pragma once
// Opening a file that must be a regular file: never following a link at the name's last
// component (unless asked), never waiting on a pipe or device (the open does not block; the file
// is blocking again once it is known to be regular), and refusing anything that is not a regular
// file. What the open found (its identity) comes with it.

#include "platform/FileDescriptor.h"
#include "platform/FileIdentity.h"
#include "platform/Result.h"

#include <QByteArray>
#include <QString>

class RegularFile {
public:
    // ReadWriteCreate keeps what the file holds; ReadWriteEmpty creates it or empties it;
    // CreateNew writes a file that must not exist yet.
    enum class Access { Read, ReadWrite, ReadWriteCreate, ReadWriteEmpty, CreateNew };
    enum class Failure { None, Missing, Link, Folder, NotRegular, Other };

    static RegularFile open(const QString& path, Access access = Access::Read, Links links = Links::Refuse);

    bool isOpen() const { return fd_.isOpen(); }
    explicit operator bool() const { return isOpen(); }
    // Why the open failed, and the system's error number when the system gave one.
    Failure failure() const { return failure_; }
    int errorNumber() const { return errno_; }
    // The reason for people: "a link, not a file", "a folder, not a file", "not a regular file",
    // or the system's reason.
    QString reason() const;

    // What fstat found once the file was open.
    const FileIdentity& identity() const { return identity_; }
    qint64 size() const { return identity_.size; }
    NativeFile fd() const { return fd_.fd(); }
    // The open file itself, for a caller that keeps it (a lock file held open).
    FileDescriptor& descriptor() { return fd_; }

    // The whole file from its start, refused when it holds more than limit bytes (reading stops
    // one byte past the limit, however much the file claims or grows).
    Result<QByteArray> readWhole(qint64 limit);

private:
    FileDescriptor fd_;
    FileIdentity identity_;
    Failure failure_ = Failure::None;
    int errno_ = 0;
};

namespace platform {

// The bytes of the regular file at path (a link refused), at most limit of them; otherwise the
// reason, prefixed with nothing.
Result<QByteArray> readRegularFile(const QString& path, qint64 limit, Links links = Links::Refuse);

}  // namespace platform
