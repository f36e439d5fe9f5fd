#include "chunk/ChunkParams.h"

Status ChunkParams::check() const
{
    if (minimum < 64 || minimum >= average || average >= maximum || maximum > MaxChunkLength)
        return Status::failure(QStringLiteral("chunk sizes %1/%2/%3 are not 64 <= minimum < average < maximum <= %4")
                                   .arg(minimum).arg(average).arg(maximum).arg(MaxChunkLength));
    if ((average & (average - 1)) != 0)
        return Status::failure(QStringLiteral("average chunk size %1 is not a power of two").arg(average));
    return {};
}
