#pragma once
// The map file record: 10520 bytes, little-endian, of which the thumbnail maker uses the map's
// width, height and 101 x 101 grid of terrain codes.

#include "Exception.h"

#include <QString>
#include <QtGlobal>

#include <array>

class MapRecord {
public:
    static constexpr int Size = 10520;
    static constexpr int MapWidthOffset = 308;
    static constexpr int MapHeightOffset = 312;
    static constexpr int TerrainOffset = 316;
    // The grid has indexes 0 ... 100 in both directions.
    static constexpr int GridSize = 101;

    // Signed 32-bit little-endian fields.
    qint32 MapWidth() const { return readInt(MapWidthOffset); }
    qint32 MapHeight() const { return readInt(MapHeightOffset); }
    void setMapWidth(qint32 value) { writeInt(MapWidthOffset, value); }
    void setMapHeight(qint32 value) { writeInt(MapHeightOffset, value); }

    // Terrain code of cell (x, y), stored x-major: byte 316 + 101 * x + y. x and y in 0 ... 100.
    static constexpr int terrainOffset(int x, int y) { return TerrainOffset + GridSize * x + y; }
    quint8 Terrain(int x, int y) const { return bytes_[size_t(terrainOffset(x, y))]; }
    void setTerrain(int x, int y, quint8 code) { bytes_[size_t(terrainOffset(x, y))] = code; }

    const std::array<quint8, Size>& bytes() const { return bytes_; }
    std::array<quint8, Size>& bytes() { return bytes_; }

private:
    qint32 readInt(int offset) const;
    void writeInt(int offset, qint32 value);

    std::array<quint8, Size> bytes_{};
};

// A map name that is neither a regular file nor a folder: a pipe, a device, a socket.
class ENotRegularFile : public Exception {
public:
    ENotRegularFile() : Exception(QStringLiteral("Not a regular file")) {}
};

// Reads the first 10520 bytes of the file into record, all at once. On failure throws
// EInOutError ("File not found", "Invalid filename", "Too many open files", "File access denied"
// (also for a folder), "Read beyond end of file", "I/O error %d") or ENotRegularFile at once for
// a pipe or device, and leaves record unchanged. The file is opened for reading only and is
// closed on every path.
void readMapFile(const QString& fileName, MapRecord& record);
