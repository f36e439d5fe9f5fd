#include "chunk/ChunkList.h"

#include <QtEndian>

namespace {

constexpr QByteArrayView Magic = "IVCHLST1";
constexpr qsizetype HashSize = 32;
constexpr qsizetype HeaderSize = 8 + 3 * 4 + 8 + HashSize + 4;
constexpr qsizetype EntrySize = HashSize + 4;

quint32 u32At(QByteArrayView bytes, qsizetype at) { return qFromLittleEndian<quint32>(bytes.data() + at); }

template <class T>
void append(QByteArray& out, T value)
{
    char le[sizeof(T)];
    qToLittleEndian(value, le);
    out.append(le, sizeof(T));
}

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
    if (!bytes.startsWith(Magic) || bytes.size() < HeaderSize)
        return fail(QStringLiteral("not a chunk list"));
    ChunkList list;
    list.params = {u32At(bytes, 8), u32At(bytes, 12), u32At(bytes, 16)};
    if (const Status valid = list.params.check(); !valid)
        return fail(valid.error());
    const quint64 size = qFromLittleEndian<quint64>(bytes.data() + 20);
    list.file.fileHash = bytes.sliced(28, HashSize).toByteArray();
    const quint32 count = u32At(bytes, 28 + HashSize);
    if (bytes.size() - HeaderSize != qsizetype(count) * EntrySize)
        return fail(QStringLiteral("cut short or too long"));
    list.file.chunks.reserve(count);
    quint64 offset = 0;
    for (quint32 i = 0; i < count; ++i) {
        const qsizetype at = HeaderSize + qsizetype(i) * EntrySize;
        const quint32 length = u32At(bytes, at + HashSize);
        if (length == 0 || length > list.params.maximum)
            return fail(QStringLiteral("chunk %1: length %2 is not 1 to %3").arg(i + 1).arg(length).arg(list.params.maximum));
        list.file.chunks.append({bytes.sliced(at, HashSize).toByteArray(), qint64(offset), length});
        offset += length;
    }
    if (offset != size)
        return fail(QStringLiteral("chunk lengths add up to %1, not the file's size %2").arg(offset).arg(size));
    list.file.size = qint64(size);
    return list;
}

QByteArray ChunkList::serialize() const
{
    QByteArray out;
    out.reserve(HeaderSize + file.chunks.size() * EntrySize);
    out.append(Magic.data(), Magic.size());
    append<quint32>(out, params.minimum);
    append<quint32>(out, params.average);
    append<quint32>(out, params.maximum);
    append<quint64>(out, quint64(file.size));
    out.append(file.fileHash);
    append<quint32>(out, quint32(file.chunks.size()));
    for (const FileChunk& chunk : file.chunks) {
        out.append(chunk.hash);
        append<quint32>(out, chunk.length);
    }
    return out;
}
