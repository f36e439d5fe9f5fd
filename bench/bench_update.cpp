// Whole update runs of the built `renewel quiet` in temporary installations, each against a peer
// measured in the same run on the same server:
//  latency   200 files of 20 KB through a proxy adding 50 ms of round trip in front of nginx:
//            aria2c -j 6 -x 1 and curl --parallel (at most 6, and curl's default of 50, the best
//            peer here);
//  loopback  2000 files of 2 KB from nginx on loopback: curl -K, one file after another over
//            one connection;
//  check     a list of 200,000 entries, all up to date: the run against the start-up of a run
//            whose list has one entry;
//  resume    a 64 MiB file cut at half by the fault server, then a second run: the body bytes
//            the server sent beyond the file's size, against curl -C - doing the same.
// Every client also fetches update.txt, as renewel does. Each renewel run is checked for its
// exit status and a complete installation; a FAILED line says when not.
//  multiplex the latency cases over https with HTTP/2 offered and over http: 200 x 20 KB and
//            2000 x 2 KB against curl --http2 / --http1.1 --parallel-max 50 and aria2c -j 16; the
//            protocol and connections renewel used come from nginx's access log.
//  install   20,000 files of 50 KB on loopback (install=N for another count) against curl
//            --parallel-max 50.
// Usage: bench_update [latency] [loopback] [check] [resume] [multiplex[=http|https]] [install[=N]]
// (default: all)

#include "FaultServer.h"
#include "LatencyProxy.h"
#include "NginxServer.h"
#include "TempDir.h"
#include "UpdateBenchSupport.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSet>

#include <cstdio>
#include <optional>

namespace {

constexpr int kRoundTripMs = 50;

bool failed = false;

void fail(const QString& what, const Timed& t)
{
    failed = true;
    std::printf("  FAILED: %s: %s\n", qPrintable(what), qPrintable(t.why));
}

void line(const char* name, const Timed& t, int runs, const QString& note = {})
{
    const QString runsText = runs == 1 ? QStringLiteral("one run") : QStringLiteral("best of %1").arg(runs);
    std::printf("  %-30s %8.3f s  (%s%s%s)\n", name, t.seconds, qPrintable(runsText), note.isEmpty() ? "" : "; ",
                qPrintable(note));
    std::fflush(stdout);
}

void ratio(const char* name, double value, const char* target = nullptr)
{
    std::printf("  %-30s %8.2f%s%s\n", name, value, target ? "    target " : "", target ? target : "");
    std::fflush(stdout);
}

QString tail(const QString& log)
{
    QFile f(log);
    if (!f.open(QIODevice::ReadOnly))
        return {};
    const QByteArray all = f.readAll();
    return QString::fromLocal8Bit(all.right(300)).trimmed();
}

// The site's own update.txt joins the files every peer fetches.
QList<ListedFile> withList(const QString& site, QList<ListedFile> files)
{
    files.prepend({"\\update.txt", QFileInfo(site + "/update.txt").size()});
    return files;
}

// One renewel run, in a fresh installation unless the caller has put files there, checked for
// status and completeness afterwards.
Timed renewelRun(const QString& folder, const QString& siteUrl, const QList<ListedFile>& files, bool fresh = true)
{
    if (fresh)
        QDir(folder).removeRecursively();
    prepareInstallation(folder, siteUrl);
    Timed t = runRenewel(folder, folder + ".log");
    if (t.ok) {
        if (const int missing = incompleteFiles(folder, files); missing > 0) {
            t.ok = false;
            t.why = QStringLiteral("%1 of %2 files missing or of another size afterwards").arg(missing).arg(files.size());
        }
    }
    if (!t.ok)
        t.why += "; its standard error ends: " + tail(folder + ".log");
    return t;
}

// One peer run into a fresh folder, checked for completeness.
Timed peerRun(const QString& program, const QStringList& args, const QString& out, const QList<ListedFile>& files)
{
    Timed t = runTool(program, args, out + ".log");
    if (t.ok) {
        if (const int missing = incompleteFiles(out, files); missing > 0) {
            t.ok = false;
            t.why = QStringLiteral("%1 of %2 files missing afterwards").arg(missing).arg(files.size());
        }
    }
    if (!t.ok)
        t.why += "; output: " + tail(out + ".log");
    QDir(out).removeRecursively();
    return t;
}

void latency()
{
    std::printf("latency: 200 files of 20 KB through a proxy adding %d ms of round trip, nginx behind it\n",
                kRoundTripMs);
    TempDir work;
    const QString site = work.filePath("site");
    const QList<ListedFile> files = numberedFiles(200, 20 * 1024);
    writeSite(site, files);
    const QList<ListedFile> fetched = withList(site, files);
    NginxServer nginx(site);
    if (!nginx.isRunning()) {
        fail("nginx", {0, false, nginx.error()});
        return;
    }
    LatencyProxy proxy(nginx.port(), kRoundTripMs);
    const QString url = proxy.url("/");

    // The proxy itself: one file by one client costs two round trips (connection, request).
    const QString one = work.filePath("one.bin");
    const Timed single = runTool("/usr/bin/curl", {"-s", "-f", "-o", one, url + relativePath(files[0].listed)}, one + ".log");
    if (!single.ok)
        return fail("curl through the proxy", single);
    std::printf("  %-30s %8.3f s  (two round trips: %.3f s)\n", "one file by curl", single.seconds,
                2 * kRoundTripMs / 1000.0);

    int runs = 0, connections = 0;
    auto counted = [&](const std::function<Timed()>& run) {
        return [&, run] {
            const int before = proxy.connectionCount();
            const Timed t = run();
            connections = proxy.connectionCount() - before;
            return t;
        };
    };
    auto connectionsNote = [&] { return QStringLiteral("%1 connections").arg(connections); };

    const Timed ours = bestOf(counted([&] { return renewelRun(work.filePath("install"), url, files); }), &runs);
    if (!ours.ok)
        return fail("renewel quiet", ours);
    line("renewel quiet", ours, runs, connectionsNote());

    const QString out = work.filePath("out");
    const QString list = work.write("aria2.txt", aria2List(url, fetched));
    const Timed aria = bestOf(counted([&] {
                                  return peerRun("/usr/bin/aria2c",
                                                 {"-j", "6", "-x", "1", "-i", list, "-d", out, "-q",
                                                  "--allow-overwrite=true", "--auto-file-renaming=false",
                                                  "--file-allocation=none"},
                                                 out, fetched);
                              }),
                              &runs);
    if (!aria.ok)
        return fail("aria2c", aria);
    line("aria2c -j 6 -x 1", aria, runs, connectionsNote());

    const QString config = work.write("curl.txt", curlConfig(url, fetched, out));
    std::optional<Timed> curl6, curl50;
    for (const char* max : {"6", "50"}) {
        const Timed c = bestOf(counted([&] {
                                   return peerRun("/usr/bin/curl",
                                                  {"-s", "-f", "--create-dirs", "--parallel", "--parallel-max", max,
                                                   "-K", config},
                                                  out, fetched);
                               }),
                               &runs);
        if (!c.ok)
            return fail("curl --parallel", c);
        line(qPrintable(QStringLiteral("curl --parallel-max %1").arg(max)), c, runs, connectionsNote());
        (curl6 ? curl50 : curl6) = c;
    }
    ratio("renewel / aria2c", ours.seconds / aria.seconds, "<= 1.00");
    ratio("renewel / curl --parallel-max 6", ours.seconds / curl6->seconds);
    ratio("renewel / curl --parallel-max 50", ours.seconds / curl50->seconds, "<= 1.00");
}

// What renewel's requests in nginx's access log used: the protocol of the listed files and the
// connections of the whole run (lines from `from` on).
QString protocolNote(const NginxServer& nginx, qsizetype from)
{
    const QList<QByteArray> log = nginx.accessLog().mid(from);
    QSet<QByteArray> protocols, connections;
    for (const QByteArray& line : log) {
        const QList<QByteArray> f = line.split(' ');
        connections.insert(f.value(0));
        if (f.value(2).startsWith("/data/"))
            protocols.insert(f.value(1));
    }
    QStringList names;
    for (const QByteArray& p : protocols)
        names << QString::fromLatin1(p);
    return QStringLiteral("%1, %2 connections").arg(names.join('+')).arg(connections.size());
}

// renewel's best run into folder, with what nginx's log says it used for the best one's note.
Timed renewelRunNoted(const NginxServer& nginx, const QString& folder, const QString& url,
                      const QList<ListedFile>& files, int* runs, QString* note, int maxSeconds)
{
    return bestOf(
        [&] {
            const qsizetype from = nginx.accessLog().size();
            const Timed t = renewelRun(folder, url, files);
            *note = protocolNote(nginx, from);
            return t;
        },
        runs, maxSeconds);
}

Timed startupFloor(const QString& work, int* runs);

// One latency case: renewel against curl (HTTP/2 where the site is https, HTTP/1.1) and aria2c,
// all through the same proxy in front of the same nginx.
void multiplexCase(bool https, int count, qint64 size)
{
    std::printf("%s, %d files of %lld KB, %d ms round trip\n", https ? "https (HTTP/2 offered)" : "http", count,
                size / 1024, kRoundTripMs);
    TempDir work;
    const QString site = work.filePath("site");
    const QList<ListedFile> files = numberedFiles(count, size);
    writeSite(site, files);
    const QList<ListedFile> fetched = withList(site, files);
    NginxServer::Options options;
    options.tls = https;
    options.http2 = https;
    options.accessLog = true;
    NginxServer nginx(site, options);
    if (!nginx.isRunning())
        return fail("nginx", {0, false, nginx.error()});
    LatencyProxy proxy(nginx.port(), kRoundTripMs);
    QString url = proxy.url("/");
    if (https)
        url.replace(0, 4, QStringLiteral("https"));
    qputenv("RENEWEL_CA_BUNDLE", nginx.caFile().toUtf8());

    int runs = 0;
    QString note;
    const Timed ours = renewelRunNoted(nginx, work.filePath("install"), url, files, &runs, &note, 60);
    qunsetenv("RENEWEL_CA_BUNDLE");
    if (!ours.ok)
        return fail("renewel quiet", ours);
    line("renewel quiet", ours, runs, note);

    const QString out = work.filePath("out");
    const QString config = work.write("curl.txt", curlConfig(url, fetched, out));
    QStringList tls;
    if (https)
        tls << "--cacert" << nginx.caFile();
    struct Peer {
        QString name;
        QString program;
        QStringList args;
    };
    QList<Peer> peers;
    if (https)
        peers << Peer{"curl --http2 --parallel-max 50", "/usr/bin/curl",
                      QStringList{"-s", "-f", "--http2", "--create-dirs", "--parallel", "--parallel-max", "50", "-K", config} + tls};
    peers << Peer{"curl --http1.1 --parallel-max 50", "/usr/bin/curl",
                  QStringList{"-s", "-f", "--http1.1", "--create-dirs", "--parallel", "--parallel-max", "50", "-K", config} + tls};
    const QString list = work.write("aria2.txt", aria2List(url, fetched));
    QStringList aria = {"-j", "16", "-x", "1", "-i", list, "-d", out, "-q", "--allow-overwrite=true",
                        "--auto-file-renaming=false", "--file-allocation=none"};
    if (https)
        aria << "--ca-certificate=" + nginx.caFile();
    peers << Peer{"aria2c -j 16", "/usr/bin/aria2c", aria};

    std::optional<Timed> best;
    QString bestName;
    for (const Peer& peer : peers) {
        QString peerNote;
        const Timed t = bestOf(
            [&] {
                const qsizetype from = nginx.accessLog().size();
                const Timed r = peerRun(peer.program, peer.args, out, fetched);
                peerNote = protocolNote(nginx, from);
                return r;
            },
            &runs, 60);
        if (!t.ok) {
            fail(peer.name, t);
            continue;
        }
        line(qPrintable(peer.name), t, runs, peerNote);
        if (!best || t.seconds < best->seconds) {
            best = t;
            bestName = peer.name;
        }
    }
    if (best)
        ratio(qPrintable("renewel / best (" + bestName + ")"), ours.seconds / best->seconds, "<= 1.00");
}

// which: "https", "http" or both (empty).
void multiplex(const QString& which)
{
    for (const bool https : {true, false}) {
        if (!which.isEmpty() && which != (https ? "https" : "http"))
            continue;
        multiplexCase(https, 200, 20 * 1024);
        multiplexCase(https, 2000, 2 * 1024);
    }
}

// A first install of many files from nginx on loopback, against curl with 50 transfers at once.
void install(int count)
{
    std::printf("install: %d files of 50 KB from nginx on loopback (a first install)\n", count);
    TempDir work;
    const QString site = work.filePath("site");
    const QList<ListedFile> files = numberedFiles(count, 50 * 1024);
    writeSite(site, files);
    const QList<ListedFile> fetched = withList(site, files);
    NginxServer::Options options;
    options.accessLog = true;
    NginxServer nginx(site, options);
    if (!nginx.isRunning())
        return fail("nginx", {0, false, nginx.error()});
    const QString url = nginx.url("/");
    int runs = 0;
    QString note;
    const Timed ours = renewelRunNoted(nginx, work.filePath("install"), url, files, &runs, &note, 120);
    if (!ours.ok)
        return fail("renewel quiet", ours);
    line("renewel quiet", ours, runs, note);
    const QString out = work.filePath("out");
    const QString config = work.write("curl.txt", curlConfig(url, fetched, out));
    const Timed curl = bestOf(
        [&] {
            return peerRun("/usr/bin/curl", {"-s", "-f", "--create-dirs", "--parallel", "--parallel-max", "50", "-K", config},
                           out, fetched);
        },
        &runs, 120);
    if (!curl.ok)
        return fail("curl --parallel-max 50", curl);
    line("curl --parallel-max 50", curl, runs);
    const Timed floor = startupFloor(work.path(), &runs);
    if (floor.ok)
        line("renewel start-up (one entry)", floor, runs);
    ratio("renewel / curl --parallel-max 50", ours.seconds / curl.seconds, "<= 1.00");
    if (floor.ok)
        ratio("(renewel - start-up) / curl", (ours.seconds - floor.seconds) / curl.seconds);
}

// The start-up and end of a run with nothing to fetch: a list of one entry, installed already.
Timed startupFloor(const QString& work, int* runs)
{
    const QString site = work + "/one";
    const QList<ListedFile> one = {{"\\data\\one.bin", 1000}};
    writeSite(site, one, false);
    auto nginx = std::make_unique<NginxServer>(site);
    if (!nginx->isRunning())
        return {0, false, nginx->error()};
    const QString install = work + "/one-install";
    return bestOf(
        [&] {
            QDir(install).removeRecursively();
            writeLinkedFiles(install, one);
            return renewelRun(install, nginx->url("/"), one, false);
        },
        runs);
}

void loopback()
{
    std::printf("loopback: 2000 files of 2 KB from nginx on loopback\n");
    TempDir work;
    const QString site = work.filePath("site");
    const QList<ListedFile> files = numberedFiles(2000, 2 * 1024);
    writeSite(site, files);
    const QList<ListedFile> fetched = withList(site, files);
    NginxServer nginx(site);
    if (!nginx.isRunning())
        return fail("nginx", {0, false, nginx.error()});
    const QString url = nginx.url("/");

    int runs = 0;
    const Timed ours = bestOf([&] { return renewelRun(work.filePath("install"), url, files); }, &runs);
    if (!ours.ok)
        return fail("renewel quiet", ours);
    line("renewel quiet", ours, runs);

    const QString out = work.filePath("out");
    const QString config = work.write("curl.txt", curlConfig(url, fetched, out));
    const Timed curl =
        bestOf([&] { return peerRun("/usr/bin/curl", {"-s", "-f", "--create-dirs", "-K", config}, out, fetched); },
               &runs);
    if (!curl.ok)
        return fail("curl -K", curl);
    line("curl -K (one after another)", curl, runs);

    const Timed floor = startupFloor(work.path(), &runs);
    if (!floor.ok)
        return fail("renewel quiet, one entry", floor);
    line("renewel start-up (one entry)", floor, runs);
    ratio("renewel / curl -K", ours.seconds / curl.seconds, "<= 2.00");
    ratio("(renewel - start-up) / curl -K", (ours.seconds - floor.seconds) / curl.seconds);
}

void check()
{
    constexpr int kEntries = 200'000;
    std::printf("check: a list of 200,000 entries, all up to date (files of 0-3 bytes)\n");
    TempDir work;
    QList<ListedFile> files;
    files.reserve(kEntries);
    for (const ListedFile& f : numberedFiles(kEntries, 0))
        files.append({f.listed, qint64(files.size() % 4)});
    const QString site = work.filePath("sites/all");
    writeSite(site, files, false);
    const QString install = work.filePath("install");
    NginxServer nginx(site);
    if (!nginx.isRunning())
        return fail("nginx", {0, false, nginx.error()});

    // A run with nothing to fetch leaves the files as they are: one installation serves every run.
    writeLinkedFiles(install, files);
    int runs = 0;
    const Timed ours = bestOf([&] { return renewelRun(install, nginx.url("/"), files, false); }, &runs);
    if (!ours.ok)
        return fail("renewel quiet", ours);
    line("renewel quiet, 200,000 entries", ours, runs);
    const Timed floor = startupFloor(work.filePath("sites"), &runs);
    if (!floor.ok)
        return fail("renewel quiet, one entry", floor);
    line("renewel quiet, one entry", floor, runs);
    std::printf("  %-30s %8.3f s    target <= 2 s\n", "check (difference)", ours.seconds - floor.seconds);
    ratio("200,000 entries / one entry", ours.seconds / floor.seconds);
}

// Body bytes of a file sent beyond its size, in percent of the size.
double resentPercent(qint64 sent, qint64 size) { return 100.0 * double(sent - size) / double(size); }

int rangeRequests(const FaultServer& srv, qsizetype from)
{
    int n = 0;
    const QList<QByteArray> all = srv.requests();
    for (qsizetype i = from; i < all.size(); ++i)
        n += all[i].startsWith("GET /big.bin ") && all[i].toLower().contains("\r\nrange:") ? 1 : 0;
    return n;
}

void resume()
{
    constexpr qint64 kSize = 64 * 1024 * 1024;
    std::printf("resume: a 64 MiB file cut at 32 MiB by the fault server, then a second run\n");
    TempDir work;
    const QString site = work.filePath("site");
    const QList<ListedFile> files = {{"\\big.bin", kSize}};
    writeSite(site, files);
    FaultServer srv(site);
    const FaultServer::Fault cut = FaultServer::cutFault(kSize / 2);
    const QString install = work.filePath("install");
    prepareInstallation(install, srv.url("/"));

    srv.failTimes("/big.bin", 1, cut);
    const Timed first = runRenewel(install, install + ".log");
    // The second run works in the same installation: its download folder holds what the first
    // one left there.
    Timed last = runRenewel(install, install + ".log");
    if (last.ok && incompleteFiles(install, files) > 0) {
        last.ok = false;
        last.why = "the file is missing or of another size afterwards";
    }
    if (last.ok) {
        QFile a(site + "/big.bin"), b(install + "/big.bin");
        if (!a.open(QIODevice::ReadOnly) || !b.open(QIODevice::ReadOnly) || a.readAll() != b.readAll()) {
            last.ok = false;
            last.why = "the installed file differs from the site's";
        }
    }
    if (!last.ok)
        return fail("renewel quiet, second run", last);
    const qint64 ours = srv.bodyBytesSent("/big.bin");
    std::printf("  %-30s first run %.2f s (%s), second %.2f s; %.1f MiB sent, %d request(s) with Range\n",
                "renewel quiet, two runs", first.seconds, first.ok ? "status 0" : qPrintable(first.why),
                last.seconds, double(ours) / 1048576.0, rangeRequests(srv, 0));

    const qsizetype requestsBefore = srv.requestCount();
    srv.failTimes("/big.bin", 1, cut);
    const QString out = work.filePath("curl.bin");
    const Timed c1 = runTool("/usr/bin/curl", {"-s", "-f", "-o", out, srv.url("/big.bin")}, out + ".log");
    const Timed c2 = runTool("/usr/bin/curl", {"-s", "-f", "-C", "-", "-o", out, srv.url("/big.bin")}, out + ".log");
    if (!c2.ok || QFileInfo(out).size() != kSize)
        return fail("curl -C -", c2.ok ? Timed{0, false, "the file is incomplete"} : c2);
    const qint64 peer = srv.bodyBytesSent("/big.bin") - ours;
    std::printf("  %-30s first run %.2f s (%s), second %.2f s; %.1f MiB sent, %d request(s) with Range\n",
                "curl, then curl -C -", c1.seconds, c1.ok ? "status 0" : qPrintable(c1.why), c2.seconds,
                double(peer) / 1048576.0, rangeRequests(srv, requestsBefore));
    std::printf("  %-30s %8.2f %%    target < 1 %%\n", "renewel: sent again", resentPercent(ours, kSize));
    std::printf("  %-30s %8.2f %%\n", "curl -C -: sent again", resentPercent(peer, kSize));
}

}  // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    QStringList cases = app.arguments().mid(1);
    const QStringList all = {"latency", "loopback", "check", "resume", "multiplex", "install"};
    // "install=N": that many files instead of 20,000.
    int installCount = 20000;
    QString multiplexOnly;  // "multiplex=http" or "multiplex=https": that scheme's cases only
    for (QString& c : cases)
        if (c.startsWith("install=")) {
            installCount = c.mid(8).toInt();
            c = "install";
        } else if (c.startsWith("multiplex=")) {
            multiplexOnly = c.mid(10);
            c = "multiplex";
        }
    if (cases.isEmpty())
        cases = all;
    for (const QString& c : cases) {
        if (!all.contains(c)) {
            std::fprintf(stderr, "usage: bench_update [latency] [loopback] [check] [resume] [multiplex[=http|https]] [install[=N]]\n");
            return 2;
        }
    }
    for (const QString& c : all) {
        if (!cases.contains(c))
            continue;
        if (c == "latency")
            latency();
        else if (c == "loopback")
            loopback();
        else if (c == "check")
            check();
        else if (c == "multiplex")
            multiplex(multiplexOnly);
        else if (c == "install")
            install(installCount);
        else
            resume();
        std::printf("\n");
    }
    return failed ? 1 : 0;
}
