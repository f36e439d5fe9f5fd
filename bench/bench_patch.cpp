// Binary patches between two builds of a program: our patch against bsdiff, xdelta3 -9 and
// zstd -19 --long=27 --patch-from, in bytes, time to make and time to apply (bspatch,
// xdelta3 -d and zstd -d --patch-from). Ours runs in this process, the peers as programs, so the
// start of a bare program (/bin/true) is printed beside them.
//   bench_patch [OLD NEW]...   default: renewel-publish and thumb-window, each against itself
//                              linked again after a small fix (bench/patch.cmake)

#include "patch/ApplyPatch.h"
#include "patch/PatchMaker.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QTemporaryDir>

#include <cstdio>
#include <functional>
#include <limits>

namespace {

constexpr int Runs = 5;

QByteArray readFile(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

// The best of Runs times of step, in seconds; negative when it fails.
double bestTime(const std::function<bool()>& step)
{
    double best = std::numeric_limits<double>::max();
    for (int i = 0; i < Runs; ++i) {
        QElapsedTimer t;
        t.start();
        if (!step())
            return -1;
        best = std::min(best, t.nsecsElapsed() / 1e9);
    }
    return best;
}

bool run(const QString& program, const QStringList& arguments)
{
    QProcess process;
    process.setStandardOutputFile(QProcess::nullDevice());
    process.setStandardErrorFile(QProcess::nullDevice());
    process.start(program, arguments);
    return process.waitForFinished(-1) && process.exitStatus() == QProcess::NormalExit && process.exitCode() == 0;
}

struct Figures {
    QString name;
    qint64 bytes = 0;
    double make = 0;
    double apply = 0;
};

struct Peer {
    const char* name;
    std::function<QStringList(const QString& old, const QString& updated, const QString& patch)> make;
    std::function<QStringList(const QString& old, const QString& patch, const QString& out)> apply;
};

const Peer Peers[] = {
    {"bsdiff / bspatch", [](auto o, auto n, auto p) { return QStringList{"bsdiff", o, n, p}; },
     [](auto o, auto p, auto out) { return QStringList{"bspatch", o, out, p}; }},
    {"xdelta3 -9", [](auto o, auto n, auto p) { return QStringList{"xdelta3", "-9", "-e", "-f", "-s", o, n, p}; },
     [](auto o, auto p, auto out) { return QStringList{"xdelta3", "-d", "-f", "-s", o, p, out}; }},
    {"zstd -19 --long=27", [](auto o, auto n, auto p) { return QStringList{"zstd", "-q", "-f", "-19", "--long=27", "--patch-from=" + o, n, "-o", p}; },
     [](auto o, auto p, auto out) { return QStringList{"zstd", "-q", "-f", "-d", "--long=27", "--patch-from=" + o, p, "-o", out}; }},
};

// A peer's figures; bytes is -1 when it failed or did not give the new file back.
Figures measurePeer(const Peer& peer, const QString& old, const QString& updated, const QTemporaryDir& dir)
{
    const QString patch = dir.filePath("peer.patch"), out = dir.filePath("peer.out");
    Figures f{QString::fromLatin1(peer.name)};
    const QStringList make = peer.make(old, updated, patch), apply = peer.apply(old, patch, out);
    f.make = bestTime([&] { return run(make.first(), make.mid(1)); });
    f.apply = bestTime([&] { return run(apply.first(), apply.mid(1)); });
    f.bytes = f.make < 0 || f.apply < 0 || readFile(out) != readFile(updated) ? -1 : QFileInfo(patch).size();
    return f;
}

Figures measureOurs(const QString& old, const QString& updated, const QTemporaryDir& dir)
{
    const QByteArray oldBytes = readFile(old), newBytes = readFile(updated);
    const QString patchPath = dir.filePath("ours.patch"), out = dir.filePath("ours.out");
    Figures f{QStringLiteral("renewel patch")};
    QByteArray patch;
    f.make = bestTime([&] {
        Result<QByteArray> made = makePatch(oldBytes, newBytes);
        patch = made.value_or({});
        return made.ok();
    });
    QFile file(patchPath);
    if (!file.open(QIODevice::WriteOnly) || file.write(patch) != patch.size())
        return {f.name, -1};
    file.close();
    f.apply = bestTime([&] { return applyPatchFile(old, patchPath, out).ok(); });
    f.bytes = f.make < 0 || f.apply < 0 || readFile(out) != newBytes ? -1 : patch.size();
    std::printf("  (ours chose %s)\n", patch.size() > 8 && patch[8] == 2 ? "the suffix diff" : "zstd against the old file");
    return f;
}

void printPair(const QString& old, const QString& updated)
{
    QTemporaryDir dir;
    std::printf("\n%s (%lld bytes) -> %s (%lld bytes)\n", qPrintable(QFileInfo(old).fileName()), QFileInfo(old).size(),
                qPrintable(QFileInfo(updated).fileName()), QFileInfo(updated).size());
    std::vector<Figures> peers;
    for (const Peer& peer : Peers)
        peers.push_back(measurePeer(peer, old, updated, dir));
    const Figures ours = measureOurs(old, updated, dir);
    Figures best{QStringLiteral("best peer"), std::numeric_limits<qint64>::max(), 1e9, 1e9};
    for (const Figures& p : peers) {
        if (p.bytes < 0)
            continue;
        best.bytes = std::min(best.bytes, p.bytes);
        best.make = std::min(best.make, p.make);
        best.apply = std::min(best.apply, p.apply);
    }
    std::printf("  %-20s %10s %8s %10s %8s %10s %8s\n", "", "bytes", "x best", "make s", "x best", "apply s", "x best");
    for (const Figures& f : peers) {
        std::printf("  %-20s %10lld %8.3f %10.4f %8.2f %10.4f %8.2f\n", qPrintable(f.name), f.bytes,
                    double(f.bytes) / best.bytes, f.make, f.make / best.make, f.apply, f.apply / best.apply);
    }
    std::printf("  %-20s %10lld %8.3f %10.4f %8.2f %10.4f %8.2f\n", qPrintable(ours.name), ours.bytes,
                double(ours.bytes) / best.bytes, ours.make, ours.make / best.make, ours.apply, ours.apply / best.apply);
    std::printf("  against bsdiff: bytes x %.3f, apply x %.2f of bspatch\n", double(ours.bytes) / peers[0].bytes,
                ours.apply / peers[0].apply);
}

}  // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    QStringList files = app.arguments().mid(1);
    if (files.isEmpty())
        files = QString::fromUtf8(IV_PATCH_PAIRS).split(u'|');
    if (files.size() % 2 != 0) {
        std::fprintf(stderr, "usage: bench_patch [OLD NEW]...\n");
        return 2;
    }
    const double start = bestTime([] { return run(QStringLiteral("/bin/true"), {}); });
    std::printf("Binary patches, best of %d runs; a bare program (/bin/true) starts in %.4f s\n", Runs, start);
    for (qsizetype i = 0; i < files.size(); i += 2)
        printPair(files[i], files[i + 1]);
    return 0;
}
