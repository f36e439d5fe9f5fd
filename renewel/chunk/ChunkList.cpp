#include "chunk/ChunkList.h"

#include "chunk/RecordReader.h"
#include "chunk/RecordWriter.h"

namespace {

constexpr QByteArrayView Magic = "IVCHLST1";
constexpr qsizetype HashSize = 32;
constexpr qsizetype HeaderSize = 8 + 3 * 4 + 8 + HashSize + 4;
constexpr qsizetype EntrySize = HashSize + 4;

}  // namespace

ChunkList ChunkList::fromIndex(const ChunkIndex& index)
{
    ChunkList list;
    list.params = index.params;
    list.file.fileHash = index.fileHash;
    list.file.size = index.fileSize;
    list.file.chunks.reserve(index.chunks.size());
    qint64 offset = 0;
    for (const ChunkIndexEntry& entry : index.chunks) {
        list.file.chunks.append({entry.hash, offset, entry.length});
        offset += entry.length;
    }
    return list;
}

Result<ChunkList> ChunkList::parse(QByteArrayView bytes)
{
    const auto fail = [](const QString& why) { return Result<ChunkList>::failure(why); };
    RecordReader in(bytes);
    if (!in.expect(Magic) || bytes.size() < HeaderSize)
        return fail(QStringLiteral("not a chunk list"));
    ChunkList list;
    list.params.minimum = in.u32();
    list.params.average = in.u32();
    list.params.maximum = in.u32();
    if (const Status valid = list.params.check(); !valid)
        return fail(valid.error());
    const quint64 size = in.u64();
    list.file.fileHash = in.take(HashSize).toByteArray();
    const quint32 count = in.u32();
    if (in.remaining() != qsizetype(count) * EntrySize)
        return fail(QStringLiteral("cut short or too long"));
    list.file.chunks.reserve(count);
    quint64 offset = 0;
    for (quint32 i = 0; i < count; ++i) {
        QByteArray hash = in.take(HashSize).toByteArray();
        const quint32 length = in.u32();
        if (length == 0 || length > list.params.maximum)
            return fail(QStringLiteral("chunk %1: length %2 is not 1 to %3").arg(i + 1).arg(length).arg(list.params.maximum));
        list.file.chunks.append({std::move(hash), qint64(offset), length});
        offset += length;
    }
    if (offset != size)
        return fail(QStringLiteral("chunk lengths add up to %1, not the file's size %2").arg(offset).arg(size));
    list.file.size = qint64(size);
    return list;
}

QByteArray ChunkList::serialize() const
{
    RecordWriter out(HeaderSize + file.chunks.size() * EntrySize);
    out.append(Magic);
    out.u32(params.minimum);
    out.u32(params.average);
    out.u32(params.maximum);
    out.u64(quint64(file.size));
    out.append(file.fileHash);
    out.u32(quint32(file.chunks.size()));
    for (const FileChunk& chunk : file.chunks) {
        out.append(chunk.hash);
        out.u32(chunk.length);
    }
    return out.take();
}
