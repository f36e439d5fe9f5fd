// thumb's command line as a file manager and a map maker use it, against peers in the same run:
//  1. maps per second of one "thumb --size 256 -o DIR" call on 1000 maps, against one call per
//     map for the first 100 of them;
//  2. the wall time of one "thumb --preview --size 128" call (the thumbnailer entry's, what a
//     file manager pays per map) against the start-up of bare Qt programs that do nothing (bench_floor_core links Qt
//     Core, bench_floor_gui Qt Core and Gui); the calls alternate, medians are compared.
// Each is measured with the outputs on the temporary folder's disk and on /dev/shm.
// Usage: bench_thumb [maps] [start-up rounds]   (default 1000 and 40)

#include "MapRecord.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <random>
#include <spawn.h>
#include <string>
#include <sys/resource.h>
#include <sys/wait.h>
#include <vector>

extern char** environ;

namespace {

struct Timing {
    double wall = -1;  // seconds; -1 when the program did not exit with status 0
    double cpu = 0;    // user + system seconds of the program
};

// Runs a program with its output on /dev/null.
Timing timeRun(const std::vector<std::string>& args)
{
    std::vector<char*> argv;
    for (const std::string& a : args)
        argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
    const auto start = std::chrono::steady_clock::now();
    pid_t pid = 0;
    int status = -1;
    rusage usage{};
    const int rc = posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    Timing timing;
    if (rc != 0 || wait4(pid, &status, 0, &usage) != pid || !WIFEXITED(status) || WEXITSTATUS(status) != 0)
        return timing;
    timing.wall = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    timing.cpu = double(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec)
        + double(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
    return timing;
}

double median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    return values.empty() ? 0 : values[values.size() / 2];
}

// Maps of assorted sizes with random terrain, the same on every run.
std::vector<std::string> writeMaps(const QString& folder, int count)
{
    std::mt19937 random(1234);
    const quint8 codes[] = {0, 2, 4, 8};
    std::vector<std::string> paths;
    for (int i = 0; i < count; ++i) {
        MapRecord record;
        record.setMapWidth(qint32(random() % 100 + 1));
        record.setMapHeight(qint32(random() % 100 + 1));
        for (int x = 1; x <= 100; ++x)
            for (int y = 1; y <= 100; ++y)
                record.setTerrain(x, y, codes[random() % 4]);
        const QString path = QDir(folder).filePath(QStringLiteral("map%1.ivm").arg(i, 4, 10, QLatin1Char('0')));
        QFile file(path);
        if (!file.open(QIODevice::WriteOnly)
            || file.write(reinterpret_cast<const char*>(record.bytes().data()), MapRecord::Size) != MapRecord::Size) {
            std::fprintf(stderr, "cannot write %s\n", qPrintable(path));
            std::exit(1);
        }
        paths.push_back(path.toStdString());
    }
    return paths;
}

// Both measurements with the outputs written below outRoot.
void measure(const char* label, const QString& outRoot, const std::vector<std::string>& maps, int rounds)
{
    const std::string thumb = IV_THUMB;
    const int mapCount = int(maps.size());
    std::printf("\noutputs on %s (%s)\n", label, qPrintable(outRoot));

    // 1. Many maps in one call, against one call per map.
    std::vector<std::string> batch = {thumb, "--size", "256", "-o", (outRoot + "/batch").toStdString()};
    batch.insert(batch.end(), maps.begin(), maps.end());
    double batchSeconds = 1e9;
    for (int i = 0; i < 3; ++i)
        batchSeconds = std::min(batchSeconds, timeRun(batch).wall);
    const int single = std::min(mapCount, 100);
    double singleSeconds = 0;
    for (int i = 0; i < single; ++i)
        singleSeconds +=
            timeRun({thumb, "--size", "256", "-o", (outRoot + "/single.bmp").toStdString(), maps[size_t(i)]}).wall;
    if (batchSeconds <= 0 || singleSeconds <= 0) {
        std::fprintf(stderr, "thumb failed\n");
        std::exit(1);
    }
    std::printf("  thumb --size 256 -o DIR, %d maps in one call: %7.3f s, %5.0f maps/s\n", mapCount, batchSeconds,
                mapCount / batchSeconds);
    std::printf("  one call per map (%d maps):                  %7.3f s, %5.0f maps/s  (one call: %.1fx)\n", single,
                singleSeconds, single / singleSeconds, (mapCount / batchSeconds) / (single / singleSeconds));

    // 2. One thumbnailer call against the floors, alternating so that load changes hit all alike.
    // The machine may be shared: CPU time is the steadier figure, wall time what a user waits.
    const std::vector<std::string> call = {thumb, "--preview", "--size", "128", "-o",
                                           (outRoot + "/thumbnail").toStdString(), "--", maps[0]};
    struct Series {
        const char* name;
        std::vector<std::string> args;
        std::vector<double> wall, cpu;
    } series[] = {{"bare Qt program, Qt Core", {IV_FLOOR_CORE}, {}, {}},
                  {"bare Qt program, Qt Core + Gui", {IV_FLOOR_GUI}, {}, {}},
                  {"thumb --preview --size 128", call, {}, {}}};
    for (int i = 0; i < rounds; ++i)
        for (Series& one : series) {
            const Timing timing = timeRun(one.args);
            if (timing.wall < 0) {
                std::fprintf(stderr, "%s failed\n", one.args[0].c_str());
                std::exit(1);
            }
            one.wall.push_back(timing.wall);
            one.cpu.push_back(timing.cpu);
        }
    std::printf("  start-up, median of %d alternating runs:        wall      CPU\n", rounds);
    for (const Series& one : series)
        std::printf("    %-32s %7.2f ms %6.2f ms\n", one.name, median(one.wall) * 1e3, median(one.cpu) * 1e3);
    const Series& ours = series[2];
    for (const Series* floor : {&series[1], &series[0]})
        std::printf("    thumb / %-31s wall %.2fx, CPU %.2fx\n", floor->name, median(ours.wall) / median(floor->wall),
                    median(ours.cpu) / median(floor->cpu));
}

} // namespace

int main(int argc, char** argv)
{
    const int mapCount = std::max(1, argc > 1 ? std::atoi(argv[1]) : 1000);
    const int rounds = std::max(1, argc > 2 ? std::atoi(argv[2]) : 40);
    QTemporaryDir dir;
    QDir().mkpath(dir.filePath("maps"));
    const std::vector<std::string> maps = writeMaps(dir.filePath("maps"), mapCount);

    // Every thumbnail is written through a temporary file that is synced before it replaces the
    // old one, so the disk's sync time counts; in memory only the program's own work does.
    measure("the temporary folder's disk", dir.path(), maps, rounds);
    if (QDir(QStringLiteral("/dev/shm")).exists()) {
        QTemporaryDir memory(QStringLiteral("/dev/shm/bench_thumb-XXXXXX"));
        if (memory.isValid())
            measure("a memory file system", memory.path(), maps, rounds);
    }
    return 0;
}
