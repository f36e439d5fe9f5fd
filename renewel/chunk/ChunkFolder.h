#pragma once
// Chunks as the store serves them (one zstd frame each, named by ChunkStore::objectFileName) in a
// folder of their own: the download folder, where fetched chunks stay until their file is
// installed, so that a run cut off continues without fetching them again. Nothing in it is
// followed through a link; a chunk is decompressed and checked on every read.

#include "chunk/ChunkIndex.h"

#include "Result.h"

#include <QString>

class ChunkDecompressor;

class ChunkFolder {
public:
    explicit ChunkFolder(QString folder) : folder_(std::move(folder)) {}

    const QString& folder() const { return folder_; }
    QString path(QByteArrayView hash) const;
    // Whether a file of the entry's stored length is there (what it holds is checked when read).
    bool has(const ChunkIndexEntry& entry) const;
    // The chunk's bytes, or why not: "not fetched (<reason>)", or the decompressor's refusal.
    Result<QByteArray> read(const ChunkIndexEntry& entry, ChunkDecompressor& decompressor) const;
    // Removes the chunk's file (a refused or used chunk).
    void drop(QByteArrayView hash) const;

private:
    QString folder_;
};
