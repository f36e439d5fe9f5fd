// Streaming SHA-256 of installed files (what "renewel repair" does) against the sha256sum tool
// on the same files in the same run. Files are read once beforehand so that both hash from the
// page cache; each side runs three times and the best time counts.
// Usage: bench_hash [MiB]   (default 1024, spread over 16 files)

#include "trust/Sha256.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>

#include <algorithm>
#include <cstdio>

namespace {

constexpr int FileCount = 16;

void makeFile(const QString& path, qint64 mib, quint32 seed)
{
    QFile f(path);
    if (!f.open(QIODevice::WriteOnly))
        qFatal("cannot write %s", qPrintable(path));
    QByteArray block(1024 * 1024, Qt::Uninitialized);
    quint32 x = seed | 1;
    for (qint64 i = 0; i < mib; ++i) {
        for (char& c : block) {
            x ^= x << 13, x ^= x >> 17, x ^= x << 5;
            c = char(x);
        }
        if (f.write(block) != block.size())
            qFatal("cannot write %s", qPrintable(path));
    }
}

double oursSeconds(const QStringList& files)
{
    QElapsedTimer t;
    t.start();
    for (const QString& file : files) {
        if (!sha256OfFile(file))
            qFatal("cannot hash %s", qPrintable(file));
    }
    return double(t.nsecsElapsed()) / 1e9;
}

double sha256sumSeconds(const QStringList& files)
{
    QProcess process;
    process.setStandardOutputFile(QProcess::nullDevice());
    QElapsedTimer t;
    t.start();
    process.start(QStringLiteral("sha256sum"), files);
    if (!process.waitForFinished(-1) || process.exitCode() != 0)
        qFatal("sha256sum failed");
    return double(t.nsecsElapsed()) / 1e9;
}

}  // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    const qint64 totalMiB = argc > 1 ? std::max(FileCount, atoi(argv[1])) : 1024;
    const qint64 fileMiB = totalMiB / FileCount;
    const double gib = double(fileMiB * FileCount) / 1024.0;

    QTemporaryDir dir;
    QStringList files;
    for (int i = 0; i < FileCount; ++i) {
        files << dir.filePath(QStringLiteral("file%1.bin").arg(i));
        makeFile(files.last(), fileMiB, quint32(i + 1) * 2654435761u);
    }
    oursSeconds(files);  // into the page cache

    double ours = 1e30;
    double peer = 1e30;
    for (int round = 0; round < 3; ++round) {
        ours = std::min(ours, oursSeconds(files));
        peer = std::min(peer, sha256sumSeconds(files));
    }
    std::printf("streaming SHA-256 of %d files, %.2f GiB in all (best of 3, from the page cache)\n",
                FileCount, gib);
    std::printf("  sha256OfFile  %7.3f s/GiB\n", ours / gib);
    std::printf("  sha256sum     %7.3f s/GiB\n", peer / gib);
    std::printf("  speed ratio (sha256sum time / ours): %.2f\n", peer / ours);
    return 0;
}
