#pragma once
// Deterministic test content: random runs mixed with repeated text, like a game's data files.

#include <QByteArray>

#include <random>

inline QByteArray testContent(qsizetype size, unsigned seed = 1)
{
    std::mt19937_64 random(seed);
    QByteArray out;
    out.reserve(size);
    while (out.size() < size) {
        if (random() % 3 == 0) {
            out.append(QByteArray("unit=grenadier hp=120 armour=light cost=45\n").repeated(int(random() % 20 + 1)));
        } else {
            for (int i = int(random() % 512 + 1); i > 0; --i) {
                const quint64 v = random();
                out.append(reinterpret_cast<const char*>(&v), 8);
            }
        }
    }
    out.truncate(size);
    return out;
}
