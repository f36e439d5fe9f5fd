// The up-to-date check of a large release: what a player's launcher costs the site at every start
// when nothing changed. A release of 20,000 small files is published signed by renewel-publish (a
// throw-away minisign key) and installed by renewel (untimed, straight from nginx, so the
// installation has the installed-state record and the head a player would have). Then, through
// LatencyProxy (50 ms round trip) in front of the same nginx:
//  floor     curl fetching update.head alone: once whole (200), and once conditionally with the
//            ETag of that answer (If-None-Match, 304), as a launcher that keeps the validator would;
//  quiet     `renewel quiet` with nothing to do;
//  check     `renewel check` with nothing to do (status 0).
// Per run: the bytes the proxy delivered to the client and read from it (HTTP headers included),
// the requests in nginx's access log during the run, and the wall time. Ratios are against the
// conditional floor (bytes both ways, and requests); the target is at most 1.2.
// Usage: bench_check [files]   (default 20000)

#include "LatencyProxy.h"
#include "NginxServer.h"
#include "TempDir.h"
#include "UpdateBenchSupport.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <cstdio>
#include <functional>

namespace {

constexpr int kRoundTripMs = 50;
constexpr double kTarget = 1.2;

void writeFile(const QString& path, const QByteArray& bytes)
{
    QDir().mkpath(QFileInfo(path).path());
    QFile f(path);
    if (!f.open(QIODevice::WriteOnly | QIODevice::Truncate) || f.write(bytes) != bytes.size())
        qFatal("cannot write %s", qPrintable(path));
}

QByteArray readFile(const QString& path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

// Untimed preparation steps: a failure ends the benchmark.
void mustRun(const QString& program, const QStringList& args, const QString& log)
{
    const Timed t = runTool(program, args, log, {}, 900);
    if (!t.ok)
        qFatal("%s: %s\n%s", qPrintable(program), qPrintable(t.why), readFile(log).right(500).constData());
}

// One measured run: bytes both ways, nginx's lines for it, its time.
struct Measured {
    Timed t;
    qint64 down = 0, up = 0;
    QList<QByteArray> log;
};

class CheckBench {
public:
    explicit CheckBench(int files)
        : files_(files), site_(work_.filePath("root/site")), nginx_(makeRoot(work_.filePath("root")), logged()),
          proxy_(nginx_.port(), kRoundTripMs)
    {
        if (!nginx_.isRunning())
            qFatal("nginx: %s", qPrintable(nginx_.error()));
    }

    // The release published signed, and installed by renewel from nginx directly.
    void prepare()
    {
        for (int i = 0; i < files_; ++i)
            writeFile(path(QStringLiteral("release/data/d%1/f%2.txt").arg(i / 1000).arg(i, 6, 10, QChar('0'))),
                      QByteArray("file ") + QByteArray::number(i) + '\n' + QByteArray(40 + i % 50, char('a' + i % 26)));
        mustRun("minisign", {"-G", "-W", "-p", path("studio.pub"), "-s", path("studio.key")}, path("minisign.log"));
        mustRun(QStringLiteral(IV_BINARY_DIR "/publish/renewel-publish"),
                {path("release"), site_, "--key", path("studio.key")}, path("publish.log"));
        const QString install = path("install");
        installation(nginx_.url("/site/"));
        const Timed first = runRenewel(install, install + ".log", 900);
        if (!first.ok)
            qFatal("renewel: the installation failed: %s\n%s", qPrintable(first.why),
                   readFile(install + ".log").right(500).constData());
        installation(proxy_.url("/site/"));
    }

    qint64 listBytes() const
    {
        return QFileInfo(site_ + "/update.txt").size() + QFileInfo(site_ + "/update.sums").size() +
               QFileInfo(site_ + "/update.sums.minisig").size();
    }
    qint64 headBytes() const { return QFileInfo(site_ + "/update.head").size(); }

    Measured curlHead(const QByteArray& etag = {})
    {
        QStringList args = {"-s", "-f", "-o", path("head.out"), "-D", path("head.headers")};
        if (!etag.isEmpty())
            args << "-H" << "If-None-Match: " + QString::fromLatin1(etag);
        args << proxy_.url("/site/update.head");
        return measure([&] { return runTool("/usr/bin/curl", args, path("curl.log")); });
    }

    // The ETag of the last curlHead's answer.
    QByteArray lastEtag() const
    {
        for (const QByteArray& line : readFile(path("head.headers")).split('\n'))
            if (line.toLower().startsWith("etag:"))
                return line.mid(5).trimmed();
        return {};
    }

    Measured renewel(const QStringList& args)
    {
        const QString install = path("install");
        Measured m = measure([&] { return runRenewel(install, install + ".log", 300, args); });
        if (!m.t.ok)
            m.t.why += "; its standard error ends: " + QString::fromLocal8Bit(readFile(install + ".log").right(300));
        return m;
    }

private:
    QString path(const QString& name) const { return work_.filePath(name); }
    static QString makeRoot(const QString& root)
    {
        QDir().mkpath(root);
        return root;
    }
    static NginxServer::Options logged()
    {
        NginxServer::Options o;
        o.accessLog = true;
        return o;
    }

    // The installation updates from siteUrl and trusts the throw-away key.
    void installation(const QString& siteUrl)
    {
        const QString folder = path("install");
        prepareInstallation(folder, siteUrl);
        const QByteArray key = readFile(path("studio.pub")).split('\n').value(1).trimmed();
        QFile lng(folder + "/renewel.lng");
        if (!lng.open(QIODevice::Append) || lng.write("#UpdateKey " + key + "\r\n") <= 0)
            qFatal("cannot write %s", qPrintable(lng.fileName()));
    }

    Measured measure(const std::function<Timed()>& run)
    {
        Measured m;
        const qint64 down = proxy_.bytesToClients(), up = proxy_.bytesFromClients();
        const qsizetype from = nginx_.accessLog().size();
        m.t = run();
        m.down = proxy_.bytesToClients() - down;
        m.up = proxy_.bytesFromClients() - up;
        m.log = nginx_.accessLog().mid(from);
        return m;
    }

    int files_;
    TempDir work_;
    QString site_;
    NginxServer nginx_;
    LatencyProxy proxy_;
};

bool failed = false;

// "URI STATUS" of each request of a run.
QString requests(const Measured& m)
{
    QStringList lines;
    for (const QByteArray& line : m.log) {
        const QList<QByteArray> f = line.split(' ');
        lines << QString::fromLatin1(f.value(2) + ' ' + f.value(3));
    }
    return lines.join(", ");
}

void row(const char* name, const Measured& m)
{
    if (!m.t.ok) {
        failed = true;
        std::printf("  %-36s FAILED: %s\n", name, qPrintable(m.t.why));
        return;
    }
    std::printf("  %-36s %8lld %6lld %8lld %4lld %8.3f  %s\n", name, m.down, m.up, m.down + m.up,
                qint64(m.log.size()), m.t.seconds, qPrintable(requests(m)));
    std::fflush(stdout);
}

void ratios(const char* name, const Measured& m, const Measured& floor)
{
    if (!m.t.ok || !floor.t.ok || floor.log.isEmpty())
        return;
    const double bytes = double(m.down + m.up) / double(floor.down + floor.up);
    const double calls = double(m.log.size()) / double(floor.log.size());
    std::printf("  %-36s bytes %5.2f  requests %5.2f   target <= %.1f%s\n", name, bytes, calls, kTarget,
                bytes <= kTarget && calls <= kTarget ? "" : "  MISSED");
}

}  // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments();
    bool valid = true;
    const int files = args.size() > 1 ? args[1].toInt(&valid) : 20000;
    if (!valid || files < 1 || args.size() > 2) {
        std::fprintf(stderr, "usage: bench_check [files]   (default 20000)\n");
        return 2;
    }
    CheckBench bench(files);
    bench.prepare();
    std::printf("bench_check: a signed release of %d files (lists %lld bytes, head %lld bytes), installed; "
                "nginx behind LatencyProxy (%d ms round trip)\n",
                files, bench.listBytes(), bench.headBytes(), kRoundTripMs);
    std::printf("  %-36s %8s %6s %8s %4s %8s  %s\n", "", "down B", "up B", "total B", "req", "s", "requests (URI status)");
    const Measured whole = bench.curlHead();
    row("curl update.head (whole, 200)", whole);
    const QByteArray etag = bench.lastEtag();
    const Measured floor = bench.curlHead(etag);
    row("curl update.head (If-None-Match)", floor);
    const Measured quiet = bench.renewel({"quiet"});
    row("renewel quiet, up to date", quiet);
    const Measured check = bench.renewel({"check"});
    row("renewel check, up to date", check);
    std::printf("floor: curl with If-None-Match: %s (the ETag of its first answer)\n", etag.constData());
    ratios("renewel quiet / conditional floor", quiet, floor);
    ratios("renewel check / conditional floor", check, floor);
    ratios("renewel quiet / whole-head floor", quiet, whole);
    ratios("renewel check / whole-head floor", check, whole);
    std::printf("bytes: both ways through the proxy, HTTP headers included; req: lines in nginx's access log.\n");
    return failed ? 1 : 0;
}
