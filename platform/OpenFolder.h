#pragma once
// A folder held open, whose entries and inner folders are reached through it: an inner folder is
// opened by name in its parent and never through a link, so a folder swapped for a link while a
// tree is walked is seen as the link it now is, never followed.

#include "platform/FileDescriptor.h"
#include "platform/FileIdentity.h"
#include "platform/Result.h"

#include <QByteArray>
#include <QList>
#include <QString>

class OpenFolder {
public:
    struct Entry {
        enum class Kind { Folder, File, Link, Other };
        QByteArray name;        // the file system's bytes
        Kind kind = Kind::Other;
        FileIdentity identity;  // for a regular file
    };

    // The folder at path (a link at its last component followed: the root a caller names).
    static OpenFolder open(const QString& path);
    // The folder name inside this one, a link there refused.
    OpenFolder inner(const QByteArray& name) const;

    bool isOpen() const { return fd_.isOpen(); }
    // Why it could not be opened: the system's reason.
    const QString& reason() const { return reason_; }
    // Every entry but "." and "..", in the order the file system gives them; the system's reason
    // when the folder can't be read.
    Result<QList<Entry>> entries() const;

private:
    static OpenFolder opened(NativeFile fd);

    FileDescriptor fd_;
    QString reason_;
};
