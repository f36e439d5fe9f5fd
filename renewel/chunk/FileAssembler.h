#pragma once
// Builds a new file from its chunk index: each chunk from an installed file (InstalledCopies:
// read and hashed again, since the file may have changed since it was chunked) or else from a
// fetched chunk in the download folder (ChunkFolder: decompressed and checked).

#include "chunk/ChunkIndex.h"

#include "platform/FileIO.h"

#include <QString>

class ChunkFolder;
class InstalledCopies;

struct AssemblyProblem {
    qsizetype chunk = 0;   // its place in the index
    bool fetched = false;  // a fetched chunk missing or refused; else a local copy no longer there
    QString reason;
};

struct Assembly {
    QByteArray fileHash;  // SHA-256 of every byte written, in order
    qint64 size = 0;      // bytes written
    // Every chunk that could not be had; the file written is then incomplete (writing stops at the
    // first, checking goes on so that one fetch can make up for all of them).
    QList<AssemblyProblem> problems;
};

// Writes the file's chunks in order to the descriptor (from its current position) and hashes them
// as they are written: local chunks are read and checked on a second thread meanwhile, a few
// blocks ahead. The failure is a write error.
Result<Assembly> assembleInto(NativeFile fd, const ChunkIndex& index, const InstalledCopies& installed,
                              const ChunkFolder& fetched);

// The same into target, through a temporary file renamed into place only when its size and
// SHA-256 are the index's. The reason names the chunk ("chunk 12: SHA-256 differs from the
// index") when one is missing or refused.
Status assembleFile(const ChunkIndex& index, const InstalledCopies& installed, const ChunkFolder& fetched,
                    const QString& target);
