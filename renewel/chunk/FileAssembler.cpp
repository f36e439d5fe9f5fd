#include "chunk/FileAssembler.h"

#include "AtomicFile.h"
#include "chunk/BlockQueue.h"
#include "chunk/ChunkCodec.h"
#include "chunk/ChunkFolder.h"
#include "chunk/InstalledCopies.h"
#include "trust/Sha256.h"

#include "platform/FileIO.h"
#include "platform/SystemError.h"

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

QList<qint64> fileOffsets(const ChunkIndex& index)
{
    return index.offsets(&ChunkIndexEntry::length);
}

namespace {
QString ioFailure(const char* what)
{
    return QString::fromLatin1(what) + QStringLiteral(": ") + systemReason(errno ? errno : EIO);
}

// The chunks an earlier build left at their offsets, each read and hashed.
bool findInPlace(NativeFile fd, const ChunkIndex& index, const QList<qint64>& offsets, QList<bool>& present)
{
    const qint64 size = platform::fileSize(fd);
    QByteArray buffer;
    for (qsizetype i = 0; i < index.chunks.size() && offsets[i + 1] <= size; ++i) {
        if (present[i])
            continue;
        const ChunkIndexEntry& entry = index.chunks[i];
        buffer.resize(entry.length);
        errno = 0;
        const qint64 got = platform::readAllAt(fd, buffer.data(), entry.length, offsets[i]);
        if (got < 0)
            return false;
        present[i] = got == entry.length && Sha256::hash(buffer) == entry.hash;
    }
    return true;
}
}  // namespace

Result<LocalFill> fillLocalChunks(NativeFile fd, const ChunkIndex& index, QList<bool> present, bool checkExisting,
                                  const InstalledCopies& installed, const ChunkFolder& fetched)
{
    const QList<qint64> offsets = fileOffsets(index);
    LocalFill fill;
    if (checkExisting && !findInPlace(fd, index, offsets, present))
        return Result<LocalFill>::failure(ioFailure("cannot read file"));
    if (const Status sized = platform::resizeFile(fd, index.fileSize); !sized)
        return Result<LocalFill>::failure(QStringLiteral("cannot write file: ") + sized.error());
    InstalledCopies::Reader copies(installed);
    ChunkDecompressor decompressor;
    QByteArray buffer;
    for (qsizetype i = 0; i < index.chunks.size(); ++i) {
        if (present[i])
            continue;
        const ChunkIndexEntry& entry = index.chunks[i];
        buffer.resize(entry.length);
        const char* bytes = buffer.constData();
        Result<QByteArray> kept = Result<QByteArray>::failure({});
        if (!copies.read(entry, buffer.data())) {
            kept = fetched.read(entry, decompressor);
            if (!kept) {
                if (!kept.error().startsWith(QLatin1String("not fetched")))
                    fill.problems.append({i, true, kept.error()});
                else if (installed.has(entry))
                    fill.problems.append({i, false, QStringLiteral("not fetched, and its local copy has changed")});
                continue;
            }
            bytes = kept->constData();
            fill.fromFolder.append(entry.hash);
        }
        errno = 0;
        if (!platform::writeAllAt(fd, bytes, entry.length, offsets[i]))
            return Result<LocalFill>::failure(ioFailure("cannot write file"));
        present[i] = true;
    }
    fill.present = std::move(present);
    return fill;
}

Result<QByteArray> hashDurableFile(NativeFile fd, qint64 size)
{
    if (const Status synced = platform::syncFileData(fd); !synced)
        return Result<QByteArray>::failure(QStringLiteral("cannot write file: ") + synced.error());
    Sha256 whole;
    QByteArray block(BlockBytes, Qt::Uninitialized);
    for (qint64 at = 0; at < size;) {
        errno = 0;
        const qint64 got = platform::readAllAt(fd, block.data(), std::min<qint64>(block.size(), size - at), at);
        if (got <= 0)
            return Result<QByteArray>::failure(got < 0 ? ioFailure("cannot read file") : QStringLiteral("the file is short"));
        whole.update(block.constData(), size_t(got));
        at += got;
    }
    return whole.final();
}
