#pragma once
// The installed-state record "renewel.state" in the program folder: for each file renewel
// installed or hashed, its listed path, size, modification time, identity (device and inode)
// and SHA-256; the paths the last accepted list named; and the folders renewel made. It only
// saves reading files that have not changed since they were hashed: a file whose size, time or
// identity differs from its entry is hashed again. A missing, damaged or foreign record (another
// format version, another folder) is ignored as a whole, and so is anything at its name that is not
// a regular file (a link, a pipe, a device). The record keeps no change time: its identities
// have none (FileIdentity::withoutChangeTime).

#include "run/install/UpdateFiles.h"

#include "Result.h"

#include <QByteArray>
#include <QHash>
#include <QSet>
#include <QString>

#include <optional>

class InstalledState {
public:
    struct Entry {
        FileIdentity identity;
        QByteArray sha256;  // 32 bytes
        QByteArray listed;  // the path as the list that installed or hashed it wrote it
    };

    // The record of the installation at installBase; empty when there is none to use.
    static InstalledState read(const QString& programFolder, const QString& installBase);
    Status write(const QString& programFolder, const QString& installBase) const;

    // Listed paths are looked up by their folded key: any spelling of a path finds its entry.
    // The recorded hash of listed, while the file still has the recorded identity.
    std::optional<QByteArray> hash(const QByteArray& listed, const FileIdentity& identity) const;
    const Entry* find(const QByteArray& listed) const;
    void record(const QByteArray& listed, const FileIdentity& identity, const QByteArray& sha256);
    void forget(const QByteArray& listed);
    // Keeps only the entries of these paths.
    void keepOnly(const QSet<QByteArray>& listed);

    // The paths the last accepted list named (with those of lists whose runs did not complete).
    QSet<QByteArray> Listed;
    // The folders renewel made for listed files, as listed paths ("\maps\deep").
    QSet<QByteArray> Made;
    // Whether Made holds folder in any spelling; forgetMade drops every spelling of it.
    bool isMade(const QByteArray& folder) const;
    void forgetMade(const QByteArray& folder);

private:
    QHash<QString, Entry> files_;  // by folded key
};
