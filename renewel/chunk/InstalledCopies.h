#pragma once
// The chunks a new file can take from installed files: each file added with the chunk list it
// was cut with (FileChunks), a chunk found in any file will do, whatever its name. The lists may
// be older than the files, so a chunk is hashed again on every read and handed out only when it
// is still the chunk the index names.

#include "chunk/ChunkIndex.h"
#include "chunk/FileChunks.h"

#include "platform/RegularFile.h"

#include <QHash>
#include <QString>

#include <map>

class InstalledCopies {
public:
    struct Place {
        QString file;
        qint64 offset = 0;
        quint32 length = 0;
    };

    // Adds each chunk of the file (the first place found for a chunk is kept).
    void add(const QString& file, const FileChunks& chunks);
    // Whether an installed file was listed with the chunk (not read: see Reader).
    bool has(const ChunkIndexEntry& entry) const;
    // Forgets the chunk: its file no longer holds it.
    void drop(const QByteArray& hash) { places_.remove(hash); }
    qsizetype count() const { return places_.size(); }

    // Reads chunks on one thread, each file opened once.
    class Reader {
    public:
        explicit Reader(const InstalledCopies& copies) : copies_(copies) {}
        // The chunk's entry.length bytes into `into`; false unless they are there and their SHA-256
        // is the entry's.
        bool read(const ChunkIndexEntry& entry, char* into);

    private:
        const InstalledCopies& copies_;
        std::map<QString, RegularFile> files_;
    };

private:
    QHash<QByteArray, Place> places_;  // by the chunk's SHA-256
};
