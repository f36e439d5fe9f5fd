#pragma once
// The diff stream's bytes for one aligned stretch. Where a byte differs, the four bytes from it
// are taken as one little-endian 32-bit number and stored as new minus old: a rebuild moves code
// and data by a few constant distances, so each moved address or offset becomes the same four
// bytes wherever it occurs (a bytewise difference would vary with the carries). Elsewhere a byte
// is stored as new minus old, mostly zero. The stream has one byte per stretch byte either way.

#include <QByteArray>

#include <cstdint>

void appendWordDiff(QByteArray& to, const uint8_t* updated, const uint8_t* old, qint64 length);

// Undoes appendWordDiff piece by piece over one stretch: start() at its beginning, then add()
// each piece of diff bytes in order, turning them into the new bytes against the old bytes at
// the same place.
class WordDiffDecoder {
public:
    void start(quint64 stretchLength)
    {
        left_ = stretchLength;
        wordLeft_ = 0;
        carry_ = 0;
    }
    void add(char* diff, const char* old, quint64 length);

private:
    quint64 left_ = 0;       // bytes of the stretch not yet decoded
    int wordLeft_ = 0;       // bytes of the current 32-bit word still to come
    unsigned carry_ = 0;
};
