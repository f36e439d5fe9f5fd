#include "chunk/PackRequests.h"

QList<qint64> packOffsets(const ChunkIndex& index)
{
    return index.offsets(&ChunkIndexEntry::storedLength);
}

namespace {
void closeRange(PackRequest& request, qint64 start, qint64 end)
{
    if (!request.ranges.isEmpty())
        request.ranges += ',';
    request.ranges += QByteArray::number(start) + '-' + QByteArray::number(end - 1);
    request.bytes += end - start;
}
}  // namespace

QList<PackRequest> planPackRequests(const QList<qint64>& offsets, const QList<qsizetype>& places, const PackLimits& limits)
{
    QList<PackRequest> requests;
    PackRequest request;
    int ranges = 0;
    qint64 start = -1, end = -1;  // the range being extended
    for (const qsizetype place : places) {
        const qint64 from = offsets[place], to = offsets[place + 1];
        if (start >= 0 && from >= end && from - end <= limits.gap && request.bytes + to - start <= limits.bytes) {
            end = to;
            request.chunks.append(place);
            continue;
        }
        if (start >= 0) {
            closeRange(request, start, end);
            ++ranges;
        }
        if (ranges > 0 && (ranges >= limits.ranges || request.bytes + to - from > limits.bytes)) {
            requests.append(std::exchange(request, PackRequest{}));
            ranges = 0;
        }
        start = from;
        end = to;
        request.chunks.append(place);
    }
    if (start >= 0) {
        closeRange(request, start, end);
        requests.append(std::move(request));
    }
    return requests;
}

qint64 packBytes(const QList<PackRequest>& requests)
{
    qint64 bytes = 0;
    for (const PackRequest& request : requests)
        bytes += request.bytes;
    return bytes;
}
