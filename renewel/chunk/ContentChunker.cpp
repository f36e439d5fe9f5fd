#include "chunk/ContentChunker.h"

#include <QFile>
#include <QIODevice>

#include <array>
#include <bit>
#include <cstring>

namespace {

// splitmix64 from a fixed seed: 256 well-mixed 64-bit values, the same on every platform.
constexpr std::array<quint64, 256> makeGearTable()
{
    std::array<quint64, 256> table{};
    quint64 state = 0x1f0e6d2c3b4a5968ull;
    for (quint64& value : table) {
        state += 0x9e3779b97f4a7c15ull;
        quint64 z = state;
        z = (z ^ (z >> 30)) * 0xbf58476d1ce4e5b9ull;
        z = (z ^ (z >> 27)) * 0x94d049bb133111ebull;
        value = z ^ (z >> 31);
    }
    return table;
}
constexpr std::array<quint64, 256> Gear = makeGearTable();

// The top `bits` bits: with a left-shifting hash the high bits depend on the most bytes.
constexpr quint64 topBits(int bits) { return bits <= 0 ? 0 : ~quint64(0) << (64 - bits); }

constexpr qsizetype ReadBlock = 1024 * 1024;

}  // namespace

ContentChunker::ContentChunker(const ChunkParams& params) : params_(params)
{
    const int bits = std::countr_zero(params.average);
    strictMask_ = topBits(bits + 2);
    looseMask_ = topBits(bits - 2);
}

qsizetype ContentChunker::cut(const uchar* data, qsizetype size) const
{
    if (size <= qsizetype(params_.minimum))
        return size;
    const qsizetype end = std::min<qsizetype>(size, params_.maximum);
    const qsizetype normal = std::min<qsizetype>(end, params_.average);
    quint64 hash = 0;
    qsizetype i = params_.minimum;
    for (; i < normal; ++i) {
        hash = (hash << 1) + Gear[data[i]];
        if ((hash & strictMask_) == 0)
            return i + 1;
    }
    for (; i < end; ++i) {
        hash = (hash << 1) + Gear[data[i]];
        if ((hash & looseMask_) == 0)
            return i + 1;
    }
    return end;
}

Status forEachChunk(QIODevice& in, const ChunkParams& params, const ChunkVisitor& visit)
{
    if (const Status valid = params.check(); !valid)
        return valid;
    const ContentChunker chunker(params);
    const qsizetype maximum = params.maximum;
    QByteArray buffer(maximum + ReadBlock, Qt::Uninitialized);
    uchar* base = reinterpret_cast<uchar*>(buffer.data());
    qsizetype begin = 0, end = 0;
    qint64 offset = 0;
    bool atEnd = false;
    for (;;) {
        // Keep at least a maximum chunk in view unless the stream has ended.
        if (end - begin < maximum && !atEnd) {
            std::memmove(base, base + begin, size_t(end - begin));
            end -= begin;
            begin = 0;
            while (end < buffer.size()) {
                const qint64 n = in.read(buffer.data() + end, buffer.size() - end);
                if (n < 0)
                    return Status::failure(in.errorString());
                if (n == 0) {
                    atEnd = true;
                    break;
                }
                end += n;
            }
        }
        if (begin == end)
            return {};
        const qsizetype length = chunker.cut(base + begin, end - begin);
        if (const Status status = visit(offset, QByteArrayView(buffer.constData() + begin, length)); !status)
            return status;
        begin += length;
        offset += length;
    }
}

Status forEachChunk(int fd, const ChunkParams& params, const ChunkVisitor& visit)
{
    QFile file;
    if (!file.open(fd, QIODevice::ReadOnly, QFileDevice::DontCloseHandle))
        return Status::failure(file.errorString());
    return forEachChunk(file, params, visit);
}
