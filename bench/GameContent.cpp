#include "GameContent.h"

#include <cstdio>
#include <iterator>
#include <random>

namespace {

constexpr qint64 KiB = 1024, MiB = 1024 * KiB;

}  // namespace

QByteArray gameContent(qint64 size, quint64 seed)
{
    std::mt19937_64 random(seed);
    static const char* const words[] = {"unit", "grenadier", "forest", "river", "armour", "light", "heavy",
                                        "cost", "range", "speed", "the", "of", "and", "bridge", "tower",
                                        "mission", "objective", "north", "south", "supply", "attack", "hold"};
    QByteArray out;
    out.reserve(size);
    quint32 id = 0;
    while (out.size() < size) {
        const qint64 block = qint64(random() % (256 * KiB)) + 4 * KiB;
        const qint64 end = std::min(size, out.size() + block);
        switch (random() % 5) {
        case 0:
        case 1:
            while (out.size() < end) {
                const quint64 v = random();
                out.append(reinterpret_cast<const char*>(&v), 8);
            }
            break;
        case 2:
        case 3:
            while (out.size() < end) {
                struct { quint32 id; quint16 kind, flags; float x, y, z; quint32 cost; char name[8]; } record{};
                record.id = ++id;
                record.kind = quint16(random() % 12);
                record.flags = quint16(random() % 4 == 0 ? random() % 256 : 0);
                record.x = float(random() % 4096) * 0.25f;
                record.y = float(random() % 4096) * 0.25f;
                record.z = float(random() % 64);
                record.cost = quint32(random() % 20) * 5;
                std::snprintf(record.name, sizeof record.name, "u%05u", unsigned(random() % 3000));
                out.append(reinterpret_cast<const char*>(&record), sizeof record);
            }
            break;
        default:
            while (out.size() < end) {
                out.append(words[random() % std::size(words)]);
                out.append(random() % 12 == 0 ? '\n' : ' ');
            }
        }
        out.truncate(end);
    }
    return out;
}

QByteArray randomBytes(qint64 size, unsigned seed)
{
    std::mt19937_64 random(seed);
    QByteArray out(size, Qt::Uninitialized);
    for (char& c : out)
        c = char(random());
    return out;
}

QByteArray changedMiddle(QByteArray content)
{
    content.replace(content.size() / 2, MiB, randomBytes(MiB, 1));
    return content;
}

QByteArray insertedNearStart(QByteArray content)
{
    content.insert(4096, randomBytes(16, 2));
    return content;
}

QByteArray scatteredEdits(QByteArray content)
{
    const qint64 size = content.size();
    for (int i = 0; i < 20; ++i)
        content.replace(size * (2 * i + 1) / 40, 4 * KiB, randomBytes(4 * KiB, 10 + i));
    return content;
}
