#pragma once
// The chunk lists of installed files, kept in renewel's folder "renewel.chunks" in the program
// folder: one file per content, named by the content's SHA-256 in hex, so that a renamed or
// copied file shares its list and an unchanged file is never read again to find its chunks.
// They are only a cache: a missing or damaged list costs reading the file once more, and a chunk
// taken from a file is hashed again before it is used. A file installed from a chunk index also
// keeps that index ("<hex>.cidx"), its bytes as fetched, so that the next change to the file can
// come as a delta from it (ChunkIndexDelta). Lists and indexes are read only as regular files
// (never through a link, never from a pipe or device, never past their size limit); anything
// else is ignored. A renewel.chunks that is itself a link is not used at all.

#include "chunk/ChunkList.h"

#include <QHash>
#include <QSet>
#include <QString>

#include <memory>
#include <optional>
#include <utility>

class InstalledChunks {
public:
    explicit InstalledChunks(const QString& programFolder);

    // The kept list of the content with this SHA-256; nothing when none is kept or it is damaged.
    std::shared_ptr<const ChunkList> find(const QByteArray& fileHash);
    // Whether a list of the content is kept (without reading it).
    bool has(const QByteArray& fileHash);
    // Keeps the list of the content it describes (best effort: a list that can't be written is
    // only not kept).
    void keep(const ChunkList& list);
    // Keeps the list of an index's content and the index's bytes (best effort).
    void keepIndex(const ChunkIndex& index);
    // The kept index of the content and its bytes; nothing when none is kept or it is damaged.
    std::optional<std::pair<ChunkIndex, QByteArray>> findIndex(const QByteArray& fileHash);
    // Whether an index of the content is kept (without reading it).
    bool hasIndex(const QByteArray& fileHash);
    // Removes the lists and indexes of every content but these.
    void keepOnly(const QSet<QByteArray>& fileHashes);

private:
    QString path(const QByteArray& fileHash) const;
    QString indexPath(const QByteArray& fileHash) const;
    void listFolder();
    bool folderUsable() const;

    const QString folder_;
    bool listed_ = false;
    QSet<QByteArray> present_;  // contents with a list in the folder
    QSet<QByteArray> indexed_;  // contents with an index in the folder
    QHash<QByteArray, std::shared_ptr<const ChunkList>> loaded_;
};
