#include "chunk/FileAssembler.h"

#include "AtomicFile.h"
#include "chunk/BlockQueue.h"
#include "chunk/ChunkCodec.h"
#include "chunk/ChunkFolder.h"
#include "chunk/InstalledCopies.h"
#include "trust/Sha256.h"

#include "platform/FileIO.h"

#include <QFile>

#include <cerrno>
#include <thread>

namespace {

// Blocks of a few MiB, a few of them on their way between the threads.
constexpr qsizetype BlockBytes = 4 << 20;
constexpr size_t QueueDepth = 3;

// The reading side: every chunk in order into blocks, each checked against its hash.
void readChunks(const ChunkIndex& index, const InstalledCopies& installed, const ChunkFolder& fetched,
                BlockQueue& queue, QList<AssemblyProblem>& problems)
{
    InstalledCopies::Reader copies(installed);
    ChunkDecompressor decompressor;
    QByteArray block = queue.fresh(BlockBytes);
    for (qsizetype i = 0; i < index.chunks.size(); ++i) {
        const ChunkIndexEntry& entry = index.chunks[i];
        const qsizetype length = entry.length;
        if (block.size() + length > block.capacity() && !block.isEmpty()) {
            if (problems.isEmpty() && !queue.push(std::exchange(block, queue.fresh(BlockBytes))))
                break;
            block.resize(0);
        }
        if (block.capacity() < length)
            block.reserve(length);
        const qsizetype at = block.size();
        block.resize(at + length);
        char* into = block.data() + at;
        if (copies.read(entry, into))
            continue;
        const Result<QByteArray> kept = fetched.read(entry, decompressor);
        if (kept) {
            memcpy(into, kept->constData(), size_t(length));
            continue;
        }
        block.resize(at);
        if (installed.has(entry) && kept.error().startsWith(QLatin1String("not fetched")))
            problems.append({i, false, QStringLiteral("not fetched, and its local copy has changed")});
        else
            problems.append({i, true, kept.error()});
    }
    if (problems.isEmpty() && !block.isEmpty())
        queue.push(std::move(block));
    queue.end();
}

}  // namespace

Result<Assembly> assembleInto(NativeFile fd, const ChunkIndex& index, const InstalledCopies& installed,
                              const ChunkFolder& fetched)
{
    Assembly assembly;
    BlockQueue queue(QueueDepth);
    std::thread reader([&] { readChunks(index, installed, fetched, queue, assembly.problems); });
    Sha256 whole;
    int writeError = 0;
    while (std::optional<QByteArray> block = queue.pop()) {
        errno = 0;
        if (!platform::writeAll(fd, block->constData(), block->size())) {
            writeError = errno ? errno : EIO;
            queue.stop();
            break;
        }
        // Each block starts on its way to the disk at once, so that making the file durable at
        // the end has little left to wait for.
        platform::startWriteBack(fd);
        whole.update(*block);
        assembly.size += block->size();
        queue.recycle(std::move(*block));
    }
    reader.join();
    if (writeError)
        return Result<Assembly>::failure(systemReason(writeError));
    assembly.fileHash = whole.final();
    return assembly;
}

Status assembleFile(const ChunkIndex& index, const InstalledCopies& installed, const ChunkFolder& fetched,
                    const QString& target)
{
    return replaceFile(target, [&](QFile& out) -> QString {
        const Result<Assembly> assembled = assembleInto(out.handle(), index, installed, fetched);
        if (!assembled)
            return assembled.error();
        if (!assembled->problems.isEmpty()) {
            const AssemblyProblem& first = assembled->problems.first();
            return QStringLiteral("chunk %1: %2").arg(first.chunk + 1).arg(first.reason);
        }
        if (assembled->size != index.fileSize || assembled->fileHash != index.fileHash)
            return QStringLiteral("the assembled file's SHA-256 differs from the index");
        return QString();
    });
}
