#include "chunk/ChunkIndex.h"

#include <QtEndian>

#include <zstd.h>

namespace {

constexpr QByteArrayView Magic = "IVCHIDX1";
constexpr qsizetype HashSize = 32;
constexpr qsizetype HeaderSize = 8 + 3 * 4 + 8 + HashSize + 4;
constexpr qsizetype EntrySize = HashSize + 4 + 4;

quint32 u32At(QByteArrayView bytes, qsizetype at) { return qFromLittleEndian<quint32>(bytes.data() + at); }

void appendU32(QByteArray& out, quint32 value)
{
    char le[4];
    qToLittleEndian(value, le);
    out.append(le, 4);
}

}  // namespace

Result<ChunkIndex> ChunkIndex::parse(QByteArrayView bytes)
{
    const auto fail = [](const QString& why) { return Result<ChunkIndex>::failure(why); };
    if (!bytes.startsWith(Magic))
        return fail(QStringLiteral("not a chunk index"));
    if (bytes.size() < HeaderSize)
        return fail(QStringLiteral("cut short in its header"));

    ChunkIndex index;
    index.params = {u32At(bytes, 8), u32At(bytes, 12), u32At(bytes, 16)};
    if (const Status valid = index.params.check(); !valid)
        return fail(valid.error());
    const quint64 fileSize = qFromLittleEndian<quint64>(bytes.data() + 20);
    index.fileHash = bytes.sliced(28, HashSize).toByteArray();
    const quint32 count = u32At(bytes, 28 + HashSize);
    const qsizetype body = bytes.size() - HeaderSize;
    if (body != qsizetype(count) * EntrySize)
        return fail(QStringLiteral("%1 bytes of entries for %2 chunks").arg(body).arg(count));

    index.chunks.reserve(count);
    quint64 total = 0;
    for (quint32 i = 0; i < count; ++i) {
        const qsizetype at = HeaderSize + qsizetype(i) * EntrySize;
        ChunkIndexEntry entry{bytes.sliced(at, HashSize).toByteArray(), u32At(bytes, at + HashSize),
                              u32At(bytes, at + HashSize + 4)};
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
    QByteArray out;
    out.reserve(HeaderSize + chunks.size() * EntrySize);
    out.append(Magic);
    appendU32(out, params.minimum);
    appendU32(out, params.average);
    appendU32(out, params.maximum);
    char size[8];
    qToLittleEndian(quint64(fileSize), size);
    out.append(size, 8);
    out.append(fileHash);
    appendU32(out, quint32(chunks.size()));
    for (const ChunkIndexEntry& entry : chunks) {
        out.append(entry.hash);
        appendU32(out, entry.length);
        appendU32(out, entry.storedLength);
    }
    return out;
}
