// Writes a release folder of game data for bench_publish_chunks.sh: FILES files adding up to
// TOTAL_MIB, each its own mix of incompressible blocks (packed textures, sounds), record tables
// (fixed-size records whose fields vary a little) and text (scripts, language tables), the
// content bench_chunk measures. The same arguments always give the same bytes.
// Usage: bench_release_content FOLDER TOTAL_MIB FILES

#include "GameContent.h"

#include <QDir>
#include <QFile>

#include <cstdio>
#include <cstdlib>

namespace {

constexpr qint64 MiB = 1024 * 1024;

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
        const qint64 size = total / files + (i < total % files ? 1 : 0);
        const QByteArray content = gameContent(size, quint64(i) + 20);
        if (file.write(content) != content.size())
            return std::fprintf(stderr, "%s: %s\n", qPrintable(path), qPrintable(file.errorString())), 1;
    }
    return 0;
}
