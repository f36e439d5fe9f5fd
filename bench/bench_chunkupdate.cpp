// A big file updated from the chunk store: `renewel quiet` against zsync on the same change,
// both through a proxy adding 50 ms of round trip in front of nginx (each request capped at
// 100 Mbit/s by nginx's limit_rate). The file (512 MiB by default, random bytes) has 1 MiB
// changed in the middle. renewel is timed twice: with the old copy's chunk list kept by the run
// that installed it, and with only the old file in place (renewel then hashes and chunks it, as
// zsync reads its seed file). Each result is checked against the release; each time is the best
// of up to three runs. The kept-list case runs over https with HTTP/2 as well (zsync has no https).
// Usage: bench_chunkupdate [MiB]

#include "LatencyProxy.h"
#include "NginxServer.h"
#include "TempDir.h"
#include "UpdateBenchSupport.h"
#include "chunk/ChunkStoreWriter.h"
#include "site/Sums.h"
#include "trust/Sha256.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>

#include <cstdio>
#include <functional>
#include <random>

#include <unistd.h>

namespace {

constexpr int kRoundTripMs = 50;
constexpr qint64 kChanged = 1 << 20;
bool failed = false;

void report(const char* name, const Timed& t, const QString& note = {})
{
    if (!t.ok) {
        failed = true;
        std::printf("  FAILED: %s: %s\n", name, qPrintable(t.why));
    } else {
        std::printf("  %-34s %8.3f s%s%s\n", name, t.seconds, note.isEmpty() ? "" : "  ", qPrintable(note));
    }
    std::fflush(stdout);
}

// Random bytes (they neither compress nor repeat: every byte of the change must travel).
void writeRandom(const QString& path, qint64 size, unsigned seed)
{
    QFile f(path);
    if (!f.open(QIODevice::WriteOnly))
        throw std::runtime_error("cannot write " + path.toStdString());
    std::mt19937_64 random(seed);
    QByteArray block(1 << 20, Qt::Uninitialized);
    for (qint64 left = size; left > 0; left -= block.size()) {
        for (qsizetype i = 0; i + 8 <= block.size(); i += 8) {
            const quint64 v = random();
            memcpy(block.data() + i, &v, 8);
        }
        f.write(block.constData(), std::min<qint64>(left, block.size()));
    }
}

// A site listing big.dat with its checksum and chunk index, and its zsync control file.
void publish(const QString& site, const QString& file)
{
    const qint64 size = QFileInfo(file).size();
    QDir().mkpath(site);
    QFile::remove(site + "/big.dat");
    QFile::copy(file, site + "/big.dat");
    const QByteArray list = "Ironvale 3D update\r\n\\big.dat\r\n" + QByteArray::number(size) + "\r\n";
    QFile l(site + "/update.txt");
    l.open(QIODevice::WriteOnly);
    l.write(list);
    l.close();
    ChunkStoreWriter writer(site, ChunkParams::forAverage(32 * 1024));
    const Result<StoredFile> stored = writer.addFile(site + "/big.dat");
    if (!stored)
        throw std::runtime_error(stored.error().toStdString());
    QFile s(site + "/update.sums");
    s.open(QIODevice::WriteOnly);
    s.write(Sums::formatLine(Sha256::hash(list), "update.txt") +
            Sums::formatLine(sha256OfFile(site + "/big.dat").value(), "\\big.dat") +
            Sums::formatLine(stored->indexHash, stored->indexName.toLatin1()));
    s.close();
    runTool("/usr/bin/zsyncmake", {"-o", site + "/big.dat.zsync", "-u", "big.dat", site + "/big.dat"}, site + ".zsyncmake.log");
}

bool sameFile(const QString& a, const QString& b)
{
    const Result<QByteArray> x = sha256OfFile(a), y = sha256OfFile(b);
    return x && y && *x == *y;
}

// The chunk requests of nginx's log from line `from` on.
int chunkRequests(const NginxServer& nginx, qsizetype from)
{
    int n = 0;
    for (const QByteArray& line : nginx.accessLog().mid(from))
        n += line.contains("/chunks/") && !line.contains("/chunks/index/");
    return n;
}

}  // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    const qint64 mib = argc > 1 ? QByteArray(argv[1]).toLongLong() : 512;
    const qint64 size = mib << 20;
    std::printf("chunk update: a %lld MiB file with 1 MiB changed in the middle, through a proxy adding %d ms of "
                "round trip, 100 Mbit/s per request\n", mib, kRoundTripMs);
    TempDir work;
    const QString v1 = work.filePath("v1.dat"), v2 = work.filePath("v2.dat");
    writeRandom(v1, size, 1);
    QFile::copy(v1, v2);
    {
        QFile f(v2);
        f.open(QIODevice::ReadWrite);
        f.seek(size / 2);
        std::mt19937_64 random(2);
        QByteArray change(kChanged, Qt::Uninitialized);
        for (qsizetype i = 0; i < change.size(); ++i)
            change[i] = char(random());
        f.write(change);
    }
    publish(work.filePath("site1"), v1);
    publish(work.filePath("site2"), v2);

    // Release 1 is installed from an nginx without the rate cap; the updates come through the
    // proxy from one with it.
    NginxServer local(work.path());
    NginxServer::Options options;
    options.accessLog = true;
    options.limitRate = "12500k";
    NginxServer nginx(work.path(), options);
    if (!nginx.isRunning() || !local.isRunning()) {
        std::printf("  FAILED: nginx: %s\n", qPrintable(nginx.error() + local.error()));
        return 1;
    }
    LatencyProxy proxy(nginx.port(), kRoundTripMs);

    // Installed by renewel from site1, which keeps the file's chunk list and its record. Each
    // timed run starts from that state again: the same file (a hard link keeps its identity),
    // record and list.
    const QString kept = work.filePath("kept"), saved = work.filePath("kept.saved");
    prepareInstallation(kept, local.url("/site1/"));
    Timed t = runRenewel(kept, kept + ".log");
    if (!t.ok || !sameFile(kept + "/big.dat", v1)) {
        report("renewel, installing release 1", {0, false, t.ok ? "wrong file" : t.why});
        return 1;
    }
    prepareInstallation(kept, proxy.url("/site2/"));
    QDir().mkpath(saved);
    ::link(QFile::encodeName(kept + "/big.dat").constData(), QFile::encodeName(saved + "/big.dat").constData());
    QFile::copy(kept + "/renewel.state", saved + "/renewel.state");
    const QStringList lists = QDir(kept + "/renewel.chunks").entryList(QDir::Files);
    for (const QString& name : lists)
        QFile::copy(kept + "/renewel.chunks/" + name, saved + "/" + name);
    const auto restore = [&] {
        QFile::remove(kept + "/big.dat");
        ::link(QFile::encodeName(saved + "/big.dat").constData(), QFile::encodeName(kept + "/big.dat").constData());
        QFile::remove(kept + "/renewel.state");
        QFile::copy(saved + "/renewel.state", kept + "/renewel.state");
        QDir(kept + "/renewel.chunks").removeRecursively();
        QDir().mkpath(kept + "/renewel.chunks");
        for (const QString& name : lists)
            QFile::copy(saved + "/" + name, kept + "/renewel.chunks/" + name);
    };
    const auto timedUpdate = [&](const QString& folder, const std::function<void()>& prepare, int* chunks) {
        prepare();
        const qsizetype from = nginx.accessLog().size();
        Timed r = runRenewel(folder, folder + ".log");
        if (r.ok && !sameFile(folder + "/big.dat", v2))
            r = {0, false, "the updated file differs from release 2"};
        *chunks = chunkRequests(nginx, from);
        return r;
    };
    int runs = 0, chunks = 0;
    t = bestOf([&] { return timedUpdate(kept, restore, &chunks); }, &runs, 60);
    report("renewel quiet, chunk list kept", t, QStringLiteral("best of %1; %2 chunks fetched").arg(runs).arg(chunks));

    // The same over https, where the chunks ride HTTP/2 streams on one connection (zsync has no
    // https: this line has no peer).
    {
        NginxServer::Options tls = options;
        tls.tls = true;
        tls.http2 = true;
        NginxServer secure(work.path(), tls);
        LatencyProxy secureProxy(secure.port(), kRoundTripMs);
        qputenv("RENEWEL_CA_BUNDLE", secure.caFile().toUtf8());
        prepareInstallation(kept, secureProxy.url("/site2/").replace("http://", "https://"));
        const auto counted = [&] {
            restore();
            const qsizetype from = secure.accessLog().size();
            Timed r = runRenewel(kept, kept + ".log");
            if (r.ok && !sameFile(kept + "/big.dat", v2))
                r = {0, false, "the updated file differs from release 2"};
            chunks = chunkRequests(secure, from);
            return r;
        };
        t = secure.isRunning() ? bestOf(counted, &runs, 60) : Timed{0, false, secure.error()};
        report("renewel quiet over https (HTTP/2)", t, QStringLiteral("best of %1; %2 chunks fetched").arg(runs).arg(chunks));
        qunsetenv("RENEWEL_CA_BUNDLE");
        prepareInstallation(kept, proxy.url("/site2/"));
    }

    // Only the old file in place: no record, no list.
    const QString bare = work.filePath("bare");
    prepareInstallation(bare, proxy.url("/site2/"));
    const auto bareOld = [&] {
        QDir(bare + "/renewel.chunks").removeRecursively();
        QFile::remove(bare + "/renewel.state");
        QFile::remove(bare + "/big.dat");
        ::link(QFile::encodeName(v1).constData(), QFile::encodeName(bare + "/big.dat").constData());
    };
    t = bestOf([&] { return timedUpdate(bare, bareOld, &chunks); }, &runs, 60);
    report("renewel quiet, old file only", t, QStringLiteral("best of %1; %2 chunks fetched").arg(runs).arg(chunks));

    const QString out = work.filePath("zsync.dat");
    Timed z = bestOf(
        [&] {
            QFile::remove(out);
            Timed r = runTool("/usr/bin/zsync", {"-q", "-i", v1, "-o", out, proxy.url("/site2/big.dat.zsync")}, out + ".log");
            if (r.ok && !sameFile(out, v2))
                r = {0, false, "zsync's file differs from release 2"};
            return r;
        },
        &runs, 60);
    report("zsync -i OLD", z, QStringLiteral("best of %1").arg(runs));
    return failed ? 1 : 0;
}
