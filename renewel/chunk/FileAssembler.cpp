#include "chunk/FileAssembler.h"

#include "AtomicFile.h"
#include "chunk/BlockQueue.h"
#include "chunk/ChunkCodec.h"
#include "chunk/ChunkStore.h"
#include "trust/Sha256.h"

#include "platform/FileIO.h"
#include "platform/RegularFile.h"

#include <QFile>

#include <cerrno>
#include <map>
#include <thread>

namespace {

// Blocks of a few MiB, a few of them on their way between the threads.
constexpr qsizetype BlockBytes = 4 << 20;
constexpr size_t QueueDepth = 3;

// Local files, each opened once while the file is assembled.
class LocalFiles {
public:
    bool read(const ChunkSource& source, char* into)
    {
        auto it = files_.find(source.file);
        if (it == files_.end())
            it = files_.emplace(source.file, RegularFile::open(source.file, RegularFile::Access::Read, Links::Follow)).first;
        return it->second && platform::readAllAt(it->second.fd(), into, source.length, source.offset) == source.length;
    }

private:
    std::map<QString, RegularFile> files_;
};

Result<QByteArray> readFetched(const QString& folder, const ChunkIndexEntry& entry, ChunkDecompressor& decompressor)
{
    const RegularFile file = RegularFile::open(folder + QLatin1Char('/') + ChunkStore::objectFileName(entry.hash));
    if (!file)
        return Result<QByteArray>::failure(QStringLiteral("not fetched (%1)").arg(file.reason()));
    // One byte more than the index allows shows a stored form that is too long.
    QByteArray stored(qsizetype(entry.storedLength) + 1, Qt::Uninitialized);
    stored.truncate(qsizetype(std::max<qint64>(platform::readAll(file.fd(), stored.data(), stored.size()), 0)));
    return decompressor.decompress(stored, entry);
}

// The reading side: every chunk in order into blocks, each checked against its hash.
void readChunks(const ChunkIndex& index, const LocalChunks& local, const QString& fetchedFolder, BlockQueue& queue,
                QList<AssemblyProblem>& problems)
{
    LocalFiles files;
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
        const auto source = local.constFind(entry.hash);
        const bool hadLocal = source != local.constEnd() && source->length == entry.length;
        if (hadLocal && files.read(*source, into) && Sha256::hash(QByteArrayView(into, length)) == entry.hash)
            continue;
        Result<QByteArray> fetched = readFetched(fetchedFolder, entry, decompressor);
        if (fetched) {
            memcpy(into, fetched->constData(), size_t(length));
            continue;
        }
        block.resize(at);
        if (hadLocal && fetched.error().startsWith(QLatin1String("not fetched")))
            problems.append({i, false, QStringLiteral("not fetched, and its local copy has changed")});
        else
            problems.append({i, true, fetched.error()});
    }
    if (problems.isEmpty() && !block.isEmpty())
        queue.push(std::move(block));
    queue.end();
}

}  // namespace

Result<Assembly> assembleInto(int fd, const ChunkIndex& index, const LocalChunks& local, const QString& fetchedFolder)
{
    Assembly assembly;
    BlockQueue queue(QueueDepth);
    std::thread reader([&] { readChunks(index, local, fetchedFolder, queue, assembly.problems); });
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

Status assembleFile(const ChunkIndex& index, const LocalChunks& local, const QString& fetchedFolder,
                    const QString& target)
{
    return replaceFile(target, [&](QFile& out) -> QString {
        const Result<Assembly> assembled = assembleInto(out.handle(), index, local, fetchedFolder);
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
