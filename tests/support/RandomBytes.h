#pragma once
// Content that compresses and deduplicates not at all, the same for the same seed.

#include <QByteArray>

#include <random>

inline QByteArray randomBytes(qsizetype size, unsigned seed)
{
    std::mt19937 random(seed);
    QByteArray out(size, Qt::Uninitialized);
    for (char& c : out)
        c = char(random());
    return out;
}
