// Download benchmarks for THTTPGet, each against curl's command-line tool fetching the same file
// from the same nginx in the same run:
//  1. throughput of a 256 MiB file on loopback with a progress handler set, once as it is and
//     once with the body's SHA-256 computed while it is written (as every signed update does);
//  2. main-thread CPU time of a waiting Fetch during a ~2 s rate-limited download.
// Usage: bench_http [MiB]   (default 256)

#include "net/HTTPGet.h"
#include "trust/Sha256.h"
#include "NginxServer.h"
#include "TempDir.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>

#include <sys/resource.h>
#include <ctime>
#include <cstdio>

namespace {

double threadCpuSeconds()
{
    timespec ts{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
    return double(ts.tv_sec) + double(ts.tv_nsec) / 1e9;
}

double childrenCpuSeconds()
{
    rusage u{};
    getrusage(RUSAGE_CHILDREN, &u);
    return double(u.ru_utime.tv_sec + u.ru_stime.tv_sec) + double(u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
}

void makeFile(const QString& path, qint64 mib)
{
    QFile f(path);
    if (!f.open(QIODevice::WriteOnly))
        qFatal("cannot write %s", qPrintable(path));
    QByteArray block(1024 * 1024, '\0');
    for (int i = 0; i < block.size(); ++i)
        block[i] = char((i * 2654435761u) >> 13);
    for (qint64 i = 0; i < mib; ++i)
        f.write(block);
}

struct Run {
    double seconds = 0;
    double cpu = 0;  // main-thread CPU (ours) or the child's CPU (curl)
    bool ok = false;
};

Run runCurl(const QString& url, const QString& out)
{
    const double cpu0 = childrenCpuSeconds();
    QElapsedTimer t;
    t.start();
    const int rc = QProcess::execute("/usr/bin/curl", {"-s", "-f", "-o", out, url});
    Run r;
    r.seconds = double(t.nsecsElapsed()) / 1e9;
    r.cpu = childrenCpuSeconds() - cpu0;
    r.ok = rc == 0;
    return r;
}

// hash: compute the body's SHA-256 while writing it; the run then only counts as ok when the
// digest equals `expected`.
Run runHttpGet(const QString& url, const QString& out, qint64* progressCalls, bool hash = false,
               const QByteArray& expected = {})
{
    THTTPGet get;
    get.HashBody = hash;
    get.URL = url;
    get.FileName = out;
    get.WaitThread = true;
    get.BinaryData = true;
    *progressCalls = 0;
    get.OnProgress = [progressCalls](QObject*, qint64, qint64) { ++*progressCalls; };
    const double cpu0 = threadCpuSeconds();
    QElapsedTimer t;
    t.start();
    get.Fetch();
    Run r;
    r.seconds = double(t.nsecsElapsed()) / 1e9;
    r.cpu = threadCpuSeconds() - cpu0;
    r.ok = get.Succeeded() && (!hash || get.Digest() == expected);
    return r;
}

}  // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    const qint64 mib = argc > 1 ? QByteArray(argv[1]).toLongLong() : 256;
    TempDir tmp;
    makeFile(tmp.filePath("big.bin"), mib);
    const QByteArray bigDigest = sha256OfFile(tmp.filePath("big.bin")).value_or(QByteArray());

    // 1. Throughput, best of five each, runs interleaved (the machine is shared: single runs vary).
    {
        NginxServer nginx(tmp.path());
        if (!nginx.isRunning()) {
            std::fprintf(stderr, "nginx: %s\n", qPrintable(nginx.error()));
            return 1;
        }
        const QString url = nginx.url("/big.bin");
        double bestCurl = 1e9, bestOurs = 1e9, bestHashed = 1e9;
        qint64 calls = 0, hashedCalls = 0;
        for (int i = 0; i < 5; ++i) {
            const Run c = runCurl(url, tmp.filePath("curl.out"));
            QFile::remove(tmp.filePath("curl.out"));
            const Run o = runHttpGet(url, tmp.filePath("ours.out"), &calls);
            QFile::remove(tmp.filePath("ours.out"));
            const Run h = runHttpGet(url, tmp.filePath("ours.out"), &hashedCalls, true, bigDigest);
            QFile::remove(tmp.filePath("ours.out"));
            if (!c.ok || !o.ok || !h.ok) {
                std::fprintf(stderr, "download failed (curl %d, THTTPGet %d, hashed %d)\n", c.ok, o.ok, h.ok);
                return 1;
            }
            bestCurl = std::min(bestCurl, c.seconds);
            bestOurs = std::min(bestOurs, o.seconds);
            bestHashed = std::min(bestHashed, h.seconds);
        }
        const double curlRate = double(mib) / bestCurl, ourRate = double(mib) / bestOurs;
        const double hashedRate = double(mib) / bestHashed;
        std::printf("throughput, %lld MiB from nginx on loopback (best of 5):\n", qlonglong(mib));
        std::printf("  curl CLI            %8.1f MiB/s\n", curlRate);
        std::printf("  THTTPGet+progress   %8.1f MiB/s  (%lld progress calls in the last run)\n", ourRate,
                    qlonglong(calls));
        std::printf("  THTTPGet+SHA-256    %8.1f MiB/s  (digest checked)\n", hashedRate);
        std::printf("  ratio THTTPGet/curl %8.2f  (target >= 0.80)\n", ourRate / curlRate);
        std::printf("  ratio hashed/curl   %8.2f  (target >= 0.80)\n", hashedRate / curlRate);
        std::printf("  ratio hashed/plain  %8.2f  (what hashing costs on loopback)\n", hashedRate / ourRate);
    }

    // 2. Main-thread CPU while Fetch waits for a rate-limited download of about 2 s.
    {
        const qint64 size = 3 * 1024 * 1024;
        tmp.write("rate.bin", QByteArray(size, 'r'));
        NginxServer nginx(tmp.path(), {false, "1m"});
        if (!nginx.isRunning()) {
            std::fprintf(stderr, "nginx: %s\n", qPrintable(nginx.error()));
            return 1;
        }
        const QString url = nginx.url("/rate.bin");
        qint64 calls = 0;
        const Run o = runHttpGet(url, tmp.filePath("ours.out"), &calls);
        const Run c = runCurl(url, tmp.filePath("curl.out"));
        if (!c.ok || !o.ok) {
            std::fprintf(stderr, "download failed (curl %d, THTTPGet %d)\n", c.ok, o.ok);
            return 1;
        }
        std::printf("waiting Fetch, 3 MiB at nginx limit_rate 1m:\n");
        std::printf("  THTTPGet main thread %6.3f s CPU over %5.2f s = %5.2f %%  (target <= 5 %%; %lld progress calls)\n",
                    o.cpu, o.seconds, 100.0 * o.cpu / o.seconds, qlonglong(calls));
        std::printf("  curl CLI process     %6.3f s CPU over %5.2f s = %5.2f %%\n", c.cpu, c.seconds,
                    100.0 * c.cpu / c.seconds);
    }
    return 0;
}
