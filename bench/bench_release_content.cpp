// Writes a release folder of game data for bench_publish_chunks.sh: FILES files adding up to
// TOTAL_MIB, each its own mix of incompressible blocks (packed textures, sounds), record tables
// (fixed-size records whose fields vary a little) and text (scripts, language tables), the
// content bench_chunk measures. The same arguments always give the same bytes.
// Usage: bench_release_content FOLDER TOTAL_MIB FILES

#include <QByteArray>
#include <QDir>
#include <QFile>

#include <cstdio>
#include <cstdlib>
#include <random>

namespace {

constexpr qint64 KiB = 1024, MiB = 1024 * KiB;

// Appends one block of about the given length to out.
void appendBlock(QByteArray& out, qint64 length, std::mt19937_64& random, quint32& id)
{
    static const char* const words[] = {"unit", "grenadier", "forest", "river", "armour", "light", "heavy",
                                        "cost", "range", "speed", "the", "of", "and", "bridge", "tower",
                                        "mission", "objective", "north", "south", "supply", "attack", "hold"};
    const qint64 end = out.size() + length;
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

}  // namespace

int main(int argc, char** argv)
{
    if (argc != 4) {
        std::fprintf(stderr, "usage: bench_release_content FOLDER TOTAL_MIB FILES\n");
        return 2;
    }
    const QString folder = QString::fromLocal8Bit(argv[1]);
    const qint64 total = std::atoll(argv[2]) * MiB;
    const int files = std::atoi(argv[3]);
    for (int i = 0; i < files; ++i) {
        const QString path = folder + QStringLiteral("/d%1/f%2.dat").arg(i / 100, 3, 10, QLatin1Char('0')).arg(i, 5, 10, QLatin1Char('0'));
        QDir().mkpath(path.section('/', 0, -2));
        QFile file(path);
        if (!file.open(QIODevice::WriteOnly))
            return std::fprintf(stderr, "%s: %s\n", qPrintable(path), qPrintable(file.errorString())), 1;
        std::mt19937_64 random(quint64(i) + 20);
        quint32 id = 0;
        const qint64 size = total / files + (i < total % files ? 1 : 0);
        QByteArray block;
        for (qint64 written = 0; written < size; written += block.size()) {
            block.clear();
            appendBlock(block, std::min(size - written, qint64(random() % (256 * KiB)) + 4 * KiB), random, id);
            if (file.write(block) != block.size())
                return std::fprintf(stderr, "%s: %s\n", qPrintable(path), qPrintable(file.errorString())), 1;
        }
    }
    return 0;
}
