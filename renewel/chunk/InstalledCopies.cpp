#include "chunk/InstalledCopies.h"

#include "trust/Sha256.h"

#include "platform/FileIO.h"

void InstalledCopies::add(const QString& file, const FileChunks& chunks)
{
    for (const FileChunk& chunk : chunks.chunks)
        if (!places_.contains(chunk.hash))
            places_.insert(chunk.hash, Place{file, chunk.offset, chunk.length});
}

bool InstalledCopies::has(const ChunkIndexEntry& entry) const
{
    const auto found = places_.constFind(entry.hash);
    return found != places_.constEnd() && found->length == entry.length;
}

bool InstalledCopies::Reader::read(const ChunkIndexEntry& entry, char* into)
{
    if (!copies_.has(entry))
        return false;
    const Place& place = *copies_.places_.constFind(entry.hash);
    auto it = files_.find(place.file);
    if (it == files_.end())
        it = files_.emplace(place.file, RegularFile::open(place.file, RegularFile::Access::Read, Links::Follow)).first;
    return it->second && platform::readAllAt(it->second.fd(), into, place.length, place.offset) == place.length &&
           Sha256::hash(QByteArrayView(into, place.length)) == entry.hash;
}
