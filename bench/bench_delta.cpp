// One big data file updated from the old release to the new one: the built renewel against the
// delta-update tools zsync, zchunk and casync, each run once per case in the same run. Every tool
// goes through the same LatencyProxy (50 ms round trip, 100 Mbit/s each way) in front of the same
// nginx, over plain http (zsync speaks nothing else). Cases, on generated game data:
//  (a) 1 MiB changed in the middle, (b) 16 bytes inserted near the start, (c) 20 scattered 4 KiB
//  edits, each from the old file to the new one; (d) the first download, with nothing installed.
// Per case and tool: the bytes the proxy delivered to the client (headers included), the HTTP
// requests (the lines nginx's access log gained during the run: a request for several ranges
// counts once) and the wall time of the run, checked for a result equal to the new file. The
// first download is set against zchunk (requests and bytes) and the fastest peer (time).
//  renewel   the release is published by renewel-publish (default options, a throw-away minisign
//            key); the old installation is made by renewel itself from nginx directly (untimed, so
//            it has the installed-state record a player would have); then the new release is
//            published and `renewel quiet` runs through the proxy.
//  zsync     zsyncmake on the new file; `zsync -i OLD -o OUT URL.zsync`.
//  zchunk    zck of the old and new files; `zckdl --source OLD.zck URL.zck` then `unzck` (the
//            time counts both: the result is the file itself, as for the others).
//  casync    `casync make` of an index and a store of the new file; `casync extract --seed=OLD
//            --store=URL URL.caibx OUT`.
// A run that takes longer than three times the whole file at the link's rate (at least 60 s) is
// stopped and shown as "timeout".
// Usage: bench_delta [MiB] [a] [b] [c] [d]   (default 512 MiB, every case; "bench_delta 512 d"
// runs the first download alone)

#include "GameContent.h"
#include "LatencyProxy.h"
#include "NginxServer.h"
#include "TempDir.h"
#include "UpdateBenchSupport.h"

#include <QCoreApplication>
#include <QCryptographicHash>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QSet>
#include <QThread>

#include <algorithm>
#include <array>
#include <cstdio>
#include <functional>
#include <optional>

namespace {

constexpr int kRoundTripMs = 50;
constexpr qint64 kBytesPerSecond = 100'000'000 / 8;  // 100 Mbit/s
constexpr qint64 MiB = 1024 * 1024;
const QString kListedFile = QStringLiteral("data/world.pak");

enum ToolId { Renewel, Zsync, Zchunk, Casync, ToolCount };
const char* const kToolNames[ToolCount] = {"renewel", "zsync", "zchunk", "casync"};

struct Case {
    const char* name;
    QString file;  // the new file
    bool first;    // nothing installed: no old file to start from
};

// One tool's run of one case.
struct Run {
    Timed t;
    qint64 down = 0, up = 0;  // bytes the proxy delivered to the client, and read from it
    QList<QByteArray> log;    // nginx's access log lines of the run
    QString note;
};

void writeFile(const QString& path, const QByteArray& bytes)
{
    QDir().mkpath(QFileInfo(path).path());
    QFile f(path);
    if (!f.open(QIODevice::WriteOnly | QIODevice::Truncate) || f.write(bytes) != bytes.size())
        qFatal("cannot write %s", qPrintable(path));
}

QByteArray fileSha256(const QString& path)
{
    QFile f(path);
    QCryptographicHash hash(QCryptographicHash::Sha256);
    if (!f.open(QIODevice::ReadOnly) || !hash.addData(&f))
        return {};
    return hash.result();
}

void copyFile(const QString& from, const QString& to)
{
    QDir().mkpath(QFileInfo(to).path());
    QFile::remove(to);
    if (!QFile::copy(from, to))
        qFatal("cannot copy %s to %s", qPrintable(from), qPrintable(to));
}

// Untimed preparation steps: a failure ends the benchmark.
void mustRun(const QString& program, const QStringList& args, const QString& log, const QString& folder = {})
{
    const Timed t = runTool(program, args, log, folder, 600);
    if (!t.ok) {
        QFile f(log);
        f.open(QIODevice::ReadOnly);
        qFatal("%s: %s\n%s", qPrintable(program), qPrintable(t.why), f.readAll().right(500).constData());
    }
}

class DeltaBench {
public:
    explicit DeltaBench(qint64 size)
        : size_(size), root_(work_.filePath("root")), site_(root_ + "/renewel"), nginx_(makeRoot(root_), logged()),
          proxy_(nginx_.port(), kRoundTripMs, kBytesPerSecond),
          timeout_(int(std::max<qint64>(60, 3 * size / kBytesPerSecond)))
    {
        if (!nginx_.isRunning())
            qFatal("nginx: %s", qPrintable(nginx_.error()));
        mustRun("minisign", {"-G", "-W", "-p", path("studio.pub"), "-s", path("studio.key")}, path("minisign.log"));
        QFile pub(path("studio.pub"));
        pub.open(QIODevice::ReadOnly);
        publicKey_ = pub.readAll().split('\n').value(1).trimmed();
    }

    QString path(const QString& name) const { return work_.filePath(name); }
    int timeout() const { return timeout_; }

    // The generated files of the cases chosen ("a" to "d"): the old one, and the new one of each
    // edit case.
    QList<Case> makeFiles(const QStringList& chosen)
    {
        const QByteArray old = gameContent(size_);
        writeFile(path("old.dat"), old);
        QList<Case> cases;
        const auto edit = [&](const char* letter, const char* name, const std::function<QByteArray(QByteArray)>& make) {
            if (!chosen.contains(letter))
                return;
            const QString file = path(QStringLiteral("%1.dat").arg(letter));
            writeFile(file, make(old));
            cases.append({name, file, false});
        };
        edit("a", "(a) 1 MiB changed", changedMiddle);
        edit("b", "(b) 16 B inserted", insertedNearStart);
        edit("c", "(c) 20 x 4 KiB edits", scatteredEdits);
        if (!cases.isEmpty())
            mustRun("/usr/bin/zck", {"-o", path("old.dat.zck"), path("old.dat")}, path("zck.log"));
        if (chosen.contains("d"))
            cases.append({"(d) first download", path("old.dat"), true});
        return cases;
    }

    // Every tool on one case.
    std::array<Run, ToolCount> runCase(const Case& c, int index)
    {
        std::array<Run, ToolCount> runs;
        const QByteArray expected = fileSha256(c.file);
        const QString peers = root_ + "/peers/" + QString::number(index);
        preparePeers(c.file, peers);
        const QString url = proxy_.url("/peers/" + QString::number(index) + "/");
        const QString out = path("out");
        const auto peer = [&](const std::function<Timed()>& run) {
            QDir(out).removeRecursively();
            QDir().mkpath(out);
            return measure(run, out + "/new.dat", expected);
        };

        runs[Renewel] = renewel(c, expected);
        runs[Zsync] = peer([&] {
            QStringList args = {"-q", "-o", out + "/new.dat", url + "new.dat.zsync"};
            if (!c.first)
                args = QStringList{"-i", path("old.dat")} + args;
            return runTool("/usr/bin/zsync", args, path("zsync.log"), out, timeout_);
        });
        runs[Zchunk] = peer([&] {
            QStringList args = {"-q", url + "new.dat.zck"};
            if (!c.first)
                args = QStringList{"--source", path("old.dat.zck")} + args;
            Timed t = runTool("/usr/bin/zckdl", args, path("zckdl.log"), out, timeout_);
            zckdlSeconds_ = t.seconds;
            if (t.ok) {
                const Timed unpack = runTool("/usr/bin/unzck", {"new.dat.zck"}, path("unzck.log"), out, timeout_);
                t.seconds += unpack.seconds;
                t.ok = unpack.ok;
                t.why = unpack.why;
            }
            return t;
        });
        runs[Zchunk].note = QStringLiteral("zckdl %1 s of it").arg(zckdlSeconds_, 0, 'f', 2);
        runs[Casync] = peer([&] {
            QStringList args = {"extract", "--store=" + url + "new.castr", url + "new.caibx", out + "/new.dat"};
            if (!c.first)
                args.insert(1, "--seed=" + path("old.dat"));
            return runTool("/usr/bin/casync", args, path("casync.log"), out, timeout_);
        });
        QDir(out).removeRecursively();
        QDir(peers).removeRecursively();
        return runs;
    }

private:
    static QString makeRoot(const QString& root)
    {
        QDir().mkpath(root + "/peers");
        return root;
    }
    static NginxServer::Options logged()
    {
        NginxServer::Options o;
        o.accessLog = true;
        return o;
    }

    // The new file beside each peer's metadata, below what nginx serves.
    void preparePeers(const QString& file, const QString& folder)
    {
        QDir().mkpath(folder);
        copyFile(file, folder + "/new.dat");
        mustRun("/usr/bin/zsyncmake", {"-u", "new.dat", "-o", "new.dat.zsync", "new.dat"}, path("zsyncmake.log"), folder);
        mustRun("/usr/bin/zck", {"-o", "new.dat.zck", "new.dat"}, path("zck.log"), folder);
        mustRun("/usr/bin/casync", {"make", "--store=new.castr", "new.caibx", "new.dat"}, path("casync-make.log"), folder);
    }

    // A client run through the proxy: its bytes, nginx's log lines, and its result checked.
    Run measure(const std::function<Timed()>& client, const QString& result, const QByteArray& expected)
    {
        Run r;
        const qint64 down = proxy_.bytesToClients(), up = proxy_.bytesFromClients();
        const qsizetype from = nginx_.accessLog().size();
        r.t = client();
        // Counted on delivery: what the proxy still held for a client that has ended is not.
        r.down = proxy_.bytesToClients() - down;
        r.up = proxy_.bytesFromClients() - up;
        r.log = nginx_.accessLog().mid(from);
        if (r.t.ok && fileSha256(result) != expected) {
            r.t.ok = false;
            r.t.why = "the result differs from the new file";
        }
        return r;
    }

    // The release folder holds `file`; renewel-publish makes it the site's current release. Lists
    // are signed with a time in seconds, and renewel refuses one that is older than the last it
    // accepted: releases are at least a second apart.
    void publish(const QString& file)
    {
        if (published_.isValid() && published_.elapsed() < 1100)
            QThread::msleep(1100 - published_.elapsed());
        copyFile(file, path("release/" + kListedFile));
        mustRun(QStringLiteral(IV_BINARY_DIR "/publish/renewel-publish"),
                {path("release"), site_, "--key", path("studio.key")}, path("publish.log"));
        published_.start();
    }

    // An installation of renewel that updates from siteUrl and trusts the throw-away key.
    void installation(const QString& folder, const QString& siteUrl)
    {
        prepareInstallation(folder, siteUrl);
        QFile lng(folder + "/renewel.lng");
        if (!lng.open(QIODevice::Append) || lng.write("#UpdateKey " + publicKey_ + "\r\n") <= 0)
            qFatal("cannot write %s", qPrintable(lng.fileName()));
    }

    Run renewel(const Case& c, const QByteArray& expected)
    {
        const QString install = path("install");
        QDir(install).removeRecursively();
        if (!c.first) {
            publish(path("old.dat"));
            installation(install, nginx_.url("/renewel/"));
            const Timed old = runRenewel(install, install + ".log", 600);
            if (!old.ok || fileSha256(install + '/' + kListedFile) != fileSha256(path("old.dat")))
                qFatal("renewel: the old installation failed: %s", qPrintable(old.why));
        }
        publish(c.file);
        installation(install, proxy_.url("/renewel/"));
        Run r = measure([&] { return runRenewel(install, install + ".log", timeout_); }, install + '/' + kListedFile,
                        expected);
        if (!r.t.ok && !r.t.timedOut) {
            QFile log(install + ".log");
            log.open(QIODevice::ReadOnly);
            r.t.why += "; its standard error ends: " + QString::fromLocal8Bit(log.readAll().right(300)).trimmed();
        }
        QDir(install).removeRecursively();
        return r;
    }

    qint64 size_;
    TempDir work_;
    QString root_, site_;
    NginxServer nginx_;
    LatencyProxy proxy_;
    int timeout_;
    QByteArray publicKey_;
    QElapsedTimer published_;
    double zckdlSeconds_ = 0;
};

// What a run asked nginx for: requests by kind (renewel's site: lists, chunk indexes, chunks,
// whole files), protocols and connections.
QString requestsNote(const Run& r, bool renewel)
{
    int lists = 0, indexes = 0, chunks = 0, files = 0, other = 0;
    QSet<QByteArray> connections, protocols;
    for (const QByteArray& line : r.log) {
        const QList<QByteArray> f = line.split(' ');
        connections.insert(f.value(0));
        protocols.insert(f.value(1));
        const QByteArray uri = f.value(2);
        if (!renewel)
            ++other;
        else if (uri.contains("/update."))
            ++lists;
        else if (uri.contains("/chunks/index/"))
            ++indexes;
        else if (uri.contains("/chunks/"))
            ++chunks;
        else
            ++files;
    }
    QStringList names;
    for (const QByteArray& p : protocols)
        names << QString::fromLatin1(p);
    names.sort();
    const QString requests = renewel ? QStringLiteral("%1 requests (%2 lists, %3 chunk indexes, %4 chunks, %5 whole files)")
                                           .arg(r.log.size()).arg(lists).arg(indexes).arg(chunks).arg(files)
                                     : QStringLiteral("%1 requests").arg(other);
    return QStringLiteral("%1, %2, %3 connection%4")
        .arg(requests, names.join('+'))
        .arg(connections.size())
        .arg(connections.size() == 1 ? "" : "s");
}

QString cell(const Run& r)
{
    if (r.t.timedOut)
        return QStringLiteral("%1 %2 %3")
            .arg(QStringLiteral("timeout"), 9)
            .arg(QStringLiteral(">%1").arg(r.t.seconds, 0, 'f', 0), 7)
            .arg(QString(), 5);
    if (!r.t.ok)
        return QStringLiteral("%1 %2 %3").arg(QStringLiteral("FAILED"), 9).arg(QString(), 7).arg(QString(), 5);
    return QStringLiteral("%1 %2 %3").arg(double(r.down) / MiB, 9, 'f', 2).arg(r.t.seconds, 7, 'f', 2).arg(r.log.size(), 5);
}

// renewel's figure over the best peer's (the least among those that completed), with its name.
QString ratio(const std::array<Run, ToolCount>& runs, const std::function<double(const Run&)>& figure)
{
    std::optional<int> best;
    for (int t = Zsync; t < ToolCount; ++t)
        if (runs[t].t.ok && (!best || figure(runs[t]) < figure(runs[*best])))
            best = t;
    if (!best || !runs[Renewel].t.ok || figure(runs[*best]) <= 0)
        return QStringLiteral("-");
    return QStringLiteral("%1 (%2)").arg(figure(runs[Renewel]) / figure(runs[*best]), 0, 'f', 2).arg(kToolNames[*best]);
}

// The first download against its targets: requests and bytes at most zchunk's, time at most the
// fastest peer's.
void printFirstDownload(const std::array<Run, ToolCount>& runs)
{
    const Run& ours = runs[Renewel];
    const Run& zchunk = runs[Zchunk];
    std::printf("first download: renewel against zchunk (requests, bytes) and the fastest peer (time)\n");
    if (!ours.t.ok)
        return (void)std::printf("  renewel did not complete\n");
    const auto against = [](const char* what, double ours, double theirs, const QString& name, int precision) {
        std::printf("  %-9s renewel %12.*f  %-8s %12.*f  ratio %6.2f   target <= 1.00\n", what, precision, ours,
                    qPrintable(name), precision, theirs, theirs > 0 ? ours / theirs : 0.0);
    };
    if (zchunk.t.ok) {
        against("requests", double(ours.log.size()), double(zchunk.log.size()), "zchunk", 0);
        against("MiB", double(ours.down) / MiB, double(zchunk.down) / MiB, "zchunk", 2);
    }
    std::optional<int> best;
    for (int t = Zsync; t < ToolCount; ++t)
        if (runs[t].t.ok && (!best || runs[t].t.seconds < runs[*best].t.seconds))
            best = t;
    if (best)
        against("seconds", ours.t.seconds, runs[*best].t.seconds, kToolNames[*best], 2);
}

void printTable(const QList<Case>& cases, const QList<std::array<Run, ToolCount>>& results)
{
    std::printf("\n%-22s", "");
    for (const char* name : kToolNames)
        std::printf(" %23s", name);
    std::printf("   %-37s\n%-22s", "renewel / best peer", "");
    for (int t = 0; t < ToolCount; ++t)
        std::printf(" %9s %7s %5s", "MiB", "s", "req");
    std::printf("   %-18s %-18s\n", "bytes", "time");
    for (qsizetype i = 0; i < cases.size(); ++i) {
        std::printf("%-22s", cases[i].name);
        for (const Run& r : results[i])
            std::printf(" %s", qPrintable(cell(r)));
        std::printf("   %-18s %-18s\n", qPrintable(ratio(results[i], [](const Run& r) { return double(r.down); })),
                    qPrintable(ratio(results[i], [](const Run& r) { return r.t.seconds; })));
    }
    if (cases.last().first)
        printFirstDownload(results.last());
    std::printf("MiB: bytes the proxy delivered to the client (HTTP headers included); s: wall time of one run;\n"
                "req: HTTP requests in nginx's access log during the run (one per request, however many ranges).\n");
}

}  // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments();
    bool valid = true;
    const qint64 mib = args.size() > 1 ? args[1].toLongLong(&valid) : 512;
    const QStringList letters = {"a", "b", "c", "d"};
    QStringList chosen = args.mid(2);
    for (const QString& letter : chosen)
        valid = valid && letters.contains(letter);
    if (chosen.isEmpty())
        chosen = letters;
    if (!valid || mib < 2) {
        std::fprintf(stderr, "usage: bench_delta [MiB] [a] [b] [c] [d]   (at least 2 MiB; default 512, every case)\n");
        return 2;
    }
    DeltaBench bench(mib * MiB);
    QFile load("/proc/loadavg");
    load.open(QIODevice::ReadOnly);
    std::printf("bench_delta: a %lld MiB file, %d ms round trip and %lld Mbit/s each way through LatencyProxy, "
                "nginx over plain http; one run per tool and case, timeout %d s\n"
                "machine: %d cores, load average %s (times are noisy where other work shares them)\n",
                mib, kRoundTripMs, kBytesPerSecond * 8 / 1'000'000, bench.timeout(), QThread::idealThreadCount(),
                load.readAll().split(' ').mid(0, 3).join(' ').constData());
    std::fflush(stdout);
    const QList<Case> cases = bench.makeFiles(chosen);
    QList<std::array<Run, ToolCount>> results;
    bool failed = false;
    for (qsizetype i = 0; i < cases.size(); ++i) {
        results.append(bench.runCase(cases[i], int(i)));
        std::printf("%s\n", cases[i].name);
        for (int t = 0; t < ToolCount; ++t) {
            Run& r = results.last()[t];
            const QString requests = requestsNote(r, t == Renewel);
            std::printf("  %-8s %s  %s; %.1f KiB sent upstream%s%s\n", kToolNames[t], qPrintable(cell(r)),
                        qPrintable(requests), double(r.up) / 1024, r.note.isEmpty() ? "" : "; ", qPrintable(r.note));
            if (!r.t.ok && !r.t.timedOut) {
                failed = true;
                std::printf("  FAILED: %s: %s\n", kToolNames[t], qPrintable(r.t.why));
            }
        }
        std::fflush(stdout);
    }
    printTable(cases, results);
    return failed ? 1 : 0;
}
