#pragma once
// Builds a new file from its chunk index: each chunk from a local file (read and hashed again,
// since an installed file may have changed since it was chunked) or else from a fetched chunk in
// the download folder (decompressed and checked by ChunkDecompressor). The file is written
// through a temporary file and renamed into place only when its size and SHA-256 are the index's.

#include "chunk/FetchPlan.h"

#include <QString>

// fetchedFolder holds the fetched chunks under ChunkStore::objectFileName. The reason names the
// chunk ("chunk 12: SHA-256 differs from the index") when one is missing or refused.
Status assembleFile(const ChunkIndex& index, const LocalChunks& local, const QString& fetchedFolder,
                    const QString& target);
