// The chunk store's average chunk size: for each candidate, the bytes an update needs (missing
// chunks compressed, plus the file's index) after (a) 1 MiB changed in the middle, (b) 16 bytes
// inserted near the start, (c) 20 scattered 4 KiB edits, the first download, and the speed of
// publishing (chunk, hash, compress, write the store) and of chunking an installed file (chunk and
// hash). Speeds are per core: bytes over the thread's CPU time, so that other work on a shared
// machine does not count. The whole file, as renewel fetches it without a store, and the whole file compressed
// with zstd in one frame at the same level are the references from the same run.
// Usage: bench_chunk [MiB] [folder]   (default 512 MiB in a temporary folder)

#include "chunk/ChunkCodec.h"
#include "chunk/ContentChunker.h"
#include "chunk/ChunkStoreWriter.h"
#include "chunk/FetchPlan.h"
#include "chunk/InstalledCopies.h"
#include "chunk/FileChunks.h"
#include "trust/Sha256.h"
#include "GameContent.h"

#include <QBuffer>
#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <zstd.h>

#include <cstdio>
#include <ctime>

namespace {

constexpr qint64 KiB = 1024, MiB = 1024 * KiB;

void writeFile(const QString& path, const QByteArray& bytes)
{
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(bytes) != bytes.size())
        qFatal("cannot write %s", qPrintable(path));
}

// CPU time of this thread, user and system.
class CpuTimer {
public:
    CpuTimer() { restart(); }
    void restart() { start_ = now(); }
    double seconds() const { return now() - start_; }

private:
    static double now()
    {
        timespec t{};
        clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
        return double(t.tv_sec) + double(t.tv_nsec) / 1e9;
    }
    double start_ = 0;
};

double mbPerSecond(qint64 bytes, double seconds) { return seconds > 0 ? bytes / 1e6 / seconds : 0; }

// Chunk, hash and compress in memory: publishing without the store's file writes.
double chunkAndCompressSeconds(QByteArray bytes, const ChunkParams& params)
{
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::ReadOnly);
    ChunkCompressor compressor;
    CpuTimer timer;
    forEachChunk(buffer, params, [&](qint64, QByteArrayView chunk) {
        Sha256::hash(chunk);
        compressor.compress(chunk);
        return Status();
    });
    return timer.seconds();
}

struct Case {
    const char* name;
    QString file;
};

}  // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments();
    const qint64 size = (args.size() > 1 ? args[1].toLongLong() : 512) * MiB;
    QTemporaryDir temp(args.size() > 2 ? args[2] + "/bench_chunk-XXXXXX" : QDir::tempPath() + "/bench_chunk-XXXXXX");
    const auto path = [&](const QString& name) { return temp.filePath(name); };

    std::printf("bench_chunk: %lld MiB of game data in %s, zstd level %d\n", size / MiB, qPrintable(temp.path()),
                ChunkCompressor::DefaultLevel);
    const QByteArray original = gameContent(size);
    writeFile(path("original.dat"), original);
    writeFile(path("a.dat"), changedMiddle(original));
    writeFile(path("b.dat"), insertedNearStart(original));
    writeFile(path("c.dat"), scatteredEdits(original));
    const Case cases[] = {{"(a) 1 MiB changed", path("a.dat")},
                          {"(b) 16 B inserted", path("b.dat")},
                          {"(c) 20 x 4 KiB edits", path("c.dat")}};

    // The reference: the whole file in one zstd frame, at the store's level and at level 6.
    CpuTimer timer;
    QByteArray whole(qsizetype(ZSTD_compressBound(size_t(size))), Qt::Uninitialized);
    std::printf("whole file: %.1f MiB\n", double(size) / MiB);
    for (const int level : {ChunkCompressor::DefaultLevel, 6}) {
        timer.restart();
        const size_t wholeSize = ZSTD_compress(whole.data(), size_t(whole.size()), original.constData(), size_t(size), level);
        std::printf("whole file in one zstd frame at level %d: %.1f MiB, %.0f MB/s\n", level,
                    double(wholeSize) / MiB, mbPerSecond(size, timer.seconds()));
    }
    whole = QByteArray();
    std::printf("\n");

    std::printf("%8s %8s %8s %8s %10s %10s %12s %10s %10s %10s\n", "average", "chunks", "index", "first",
                "(a) 1 MiB", "(b) 16 B", "(c) 20x4KiB", "chunk+zstd", "publish", "chunk+hash");
    std::printf("%8s %8s %8s %8s %10s %10s %12s %10s %10s %10s\n", "KiB", "", "KiB", "MiB", "KiB", "KiB", "KiB",
                "MB/s", "MB/s", "MB/s");
    quint32 best = 0;
    qint64 bestBytes = 0;
    for (const quint32 average : {16u * 1024, 32u * 1024, 64u * 1024, 128u * 1024}) {
        const ChunkParams params = ChunkParams::forAverage(average);
        const double compressSeconds = chunkAndCompressSeconds(original, params);
        const QString site = path(QStringLiteral("site%1").arg(average));
        ChunkStoreWriter writer(site, params);
        timer.restart();
        const Result<StoredFile> published = writer.addFile(path("original.dat"));
        const double publishSeconds = timer.seconds();
        if (!published)
            qFatal("publish: %s", qPrintable(published.error()));
        const qint64 indexBytes = published->index.serialize().size();

        timer.restart();
        const Result<FileChunks> installed = chunkFile(path("original.dat"), params);
        const double chunkSeconds = timer.seconds();
        InstalledCopies local;
        local.add(path("original.dat"), installed.value());

        qint64 needed[3] = {};
        qint64 sum = 0;
        for (int i = 0; i < 3; ++i) {
            const Result<StoredFile> next = writer.addFile(cases[i].file);
            if (!next)
                qFatal("publish: %s", qPrintable(next.error()));
            needed[i] = planFetch(next->index, local).fetchBytes + next->index.serialize().size();
            sum += needed[i];
        }
        if (best == 0 || sum < bestBytes)
            best = average, bestBytes = sum;
        std::printf("%8u %8lld %8.1f %8.1f %10.1f %10.1f %12.1f %10.0f %10.0f %10.0f\n", average / 1024,
                    qint64(published->index.chunks.size()), double(indexBytes) / KiB,
                    double(published->bytesWritten + indexBytes) / MiB, double(needed[0]) / KiB,
                    double(needed[1]) / KiB, double(needed[2]) / KiB, mbPerSecond(size, compressSeconds),
                    mbPerSecond(size, publishSeconds), mbPerSecond(size, chunkSeconds));
        std::fflush(stdout);
        QDir(site).removeRecursively();
    }
    std::printf("\nBytes for an update are the missing chunks compressed plus the file's index.\n"
                "Fewest bytes over (a)-(c): an average of %u KiB.\n", best / 1024);
    return 0;
}
