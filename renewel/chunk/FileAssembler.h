#pragma once
// Builds a new file from its chunk index: each chunk from an installed file (InstalledCopies:
// read and hashed again, since the file may have changed since it was chunked) or else from a
// fetched chunk in the download folder (ChunkFolder: decompressed and checked). Either in one pass
// in order (assembleInto), or chunk by chunk at their offsets into a file that fetched chunks are
// written into as well (fillLocalChunks, then hashFile).

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

// The chunks of the file (of the index's size) at their offsets: `present` says which are in place
// already; checkExisting first finds those an earlier, cut off build left in place (each hashed
// at its offset). Every other chunk an installed copy or the folder holds is written; problems
// name the chunks whose local copy turned out bad or changed (they are to be fetched). The
// failure is a read or write error.
struct LocalFill {
    QList<bool> present;
    QList<AssemblyProblem> problems;
    QList<QByteArray> fromFolder;  // chunks of the folder written
};
Result<LocalFill> fillLocalChunks(NativeFile fd, const ChunkIndex& index, QList<bool> present, bool checkExisting,
                                  const InstalledCopies& installed, const ChunkFolder& fetched);

// Each chunk's offset in the file; one more last: the file's size.
QList<qint64> fileOffsets(const ChunkIndex& index);

// The SHA-256 of the file's first size bytes, once they are on the disk for good; the failure is
// a read or sync error, or a file shorter than size.
Result<QByteArray> hashDurableFile(NativeFile fd, qint64 size);
