#include "chunk/ChunkIndex.h"

#include "chunk/RecordReader.h"
#include "chunk/RecordWriter.h"

#include <zstd.h>

namespace {

constexpr QByteArrayView Magic = "IVCHIDX1";
constexpr qsizetype HashSize = 32;
constexpr qsizetype HeaderSize = 8 + 3 * 4 + 8 + HashSize + 4;
constexpr qsizetype EntrySize = HashSize + 4 + 4;

}  // namespace

Result<ChunkIndex> ChunkIndex::parse(QByteArrayView bytes)
{
    const auto fail = [](const QString& why) { return Result<ChunkIndex>::failure(why); };
    RecordReader in(bytes);
    if (!in.expect(Magic))
        return fail(QStringLiteral("not a chunk index"));
    if (bytes.size() < HeaderSize)
        return fail(QStringLiteral("cut short in its header"));

    ChunkIndex index;
    index.params.minimum = in.u32();
    index.params.average = in.u32();
    index.params.maximum = in.u32();
    if (const Status valid = index.params.check(); !valid)
        return fail(valid.error());
    const quint64 fileSize = in.u64();
    index.fileHash = in.take(HashSize).toByteArray();
    const quint32 count = in.u32();
    if (in.remaining() != qsizetype(count) * EntrySize)
        return fail(QStringLiteral("%1 bytes of entries for %2 chunks").arg(in.remaining()).arg(count));

    index.chunks.reserve(count);
    quint64 total = 0;
    for (quint32 i = 0; i < count; ++i) {
        ChunkIndexEntry entry;
        entry.hash = in.take(HashSize).toByteArray();
        entry.length = in.u32();
        entry.storedLength = in.u32();
        const auto chunkFail = [&](const QString& why) { return fail(QStringLiteral("chunk %1: %2").arg(i + 1).arg(why)); };
        if (entry.length == 0 || entry.length > index.params.maximum)
            return chunkFail(QStringLiteral("length %1 is not 1 to %2").arg(entry.length).arg(index.params.maximum));
        if (entry.storedLength == 0 || entry.storedLength > ZSTD_compressBound(entry.length))
            return chunkFail(QStringLiteral("stored length %1 is not 1 to zstd's bound for %2 bytes")
                                 .arg(entry.storedLength).arg(entry.length));
        total += entry.length;
        index.chunks.append(std::move(entry));
    }
    if (total != fileSize)
        return fail(QStringLiteral("chunk lengths add up to %1, not the file's size %2").arg(total).arg(fileSize));
    index.fileSize = qint64(fileSize);
    return index;
}

QByteArray ChunkIndex::serialize() const
{
    RecordWriter out(HeaderSize + chunks.size() * EntrySize);
    out.append(Magic);
    out.u32(params.minimum);
    out.u32(params.average);
    out.u32(params.maximum);
    out.u64(quint64(fileSize));
    out.append(fileHash);
    out.u32(quint32(chunks.size()));
    for (const ChunkIndexEntry& entry : chunks) {
        out.append(entry.hash);
        out.u32(entry.length);
        out.u32(entry.storedLength);
    }
    return out.take();
}

QList<qint64> ChunkIndex::offsets(quint32 ChunkIndexEntry::*length) const
{
    QList<qint64> at;
    at.reserve(chunks.size() + 1);
    qint64 end = 0;
    for (const ChunkIndexEntry& entry : chunks) {
        at.append(end);
        end += entry.*length;
    }
    at.append(end);
    return at;
}
