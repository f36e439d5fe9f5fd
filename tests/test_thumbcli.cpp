// thumb's command line, run as a process: naming of outputs, BMP format and pixels, partial
// failures, output that cannot be created, usage errors, and no display needed.

#include "MapRecord.h"
#include "PaintMap.h"
#include "ThumbCli.h"
#include "ThumbnailExport.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QTemporaryDir>
#include <QtEndian>

#include <filesystem>
#include <functional>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <grp.h>
#include <spawn.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <vector>

extern char** environ;

namespace {

struct ProcessResult {
    int exitCode = -1;
    QString out;
    QString err;
};

// Runs thumb; asNobody (for root) runs it as the user "nobody".
ProcessResult runThumb(const QStringList& args, int timeoutMs = 60000, bool asNobody = false)
{
    QProcess process;
    if (asNobody)
        process.setChildProcessModifier([] {
            const gid_t nobody = 65534;
            if (setgroups(0, nullptr) != 0 || setgid(nobody) != 0 || setuid(nobody) != 0)
                _exit(126);
        });
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.remove("QT_QPA_PLATFORM"); // the command line must not need any display
    env.remove("DISPLAY");
    env.remove("WAYLAND_DISPLAY");
    process.setProcessEnvironment(env);
    process.start(QStringLiteral(IV_BINARY_DIR "/thumb/thumb"), args);
    EXPECT_TRUE(process.waitForFinished(timeoutMs)) << qPrintable(args.join(' '));
    if (process.state() != QProcess::NotRunning) {
        process.kill();
        process.waitForFinished();
    }
    ProcessResult run;
    run.exitCode = process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
    run.out = QString::fromLocal8Bit(process.readAllStandardOutput());
    run.err = QString::fromLocal8Bit(process.readAllStandardError());
    return run;
}

QString writeMap(const QTemporaryDir& dir, const QString& name, qint32 w, qint32 h, int size = MapRecord::Size)
{
    MapRecord record;
    record.setMapWidth(w);
    record.setMapHeight(h);
    for (int x = 1; x <= 100; ++x)
        for (int y = 1; y <= 100; ++y)
            record.setTerrain(x, y, quint8((x * 3 + y) % 9));
    const QString path = dir.filePath(name);
    QDir().mkpath(QFileInfo(path).path());
    QFile file(path);
    EXPECT_TRUE(file.open(QIODevice::WriteOnly));
    file.write(reinterpret_cast<const char*>(record.bytes().data()), size);
    return path;
}

// The thumbnail the window would show for the map (at 160), or the renderer's at another size;
// with fill, the one whose cells fill the square.
QImage expectedThumbnail(const QString& mapPath, int size = ThumbnailSize, bool fill = false)
{
    MapRecord record;
    readMapFile(mapPath, record);
    BundledTextures textures;
    QImage image;
    if (fill)
        MapRenderer().PaintMapFilled(record, textures.textures(), image, size);
    else
        MapRenderer().PaintMap(record, textures.textures(), image, size);
    return image;
}

// An 8-bit RGB, non-interlaced PNG of size x size holding the renderer's thumbnail of the map.
void expectPngOf(const QString& pngPath, const QString& mapPath, int size)
{
    QFile file(pngPath);
    ASSERT_TRUE(file.open(QIODevice::ReadOnly)) << qPrintable(pngPath);
    const QByteArray bytes = file.read(29);
    ASSERT_EQ(bytes.size(), 29);
    EXPECT_EQ(bytes.left(8), QByteArray("\x89PNG\r\n\x1a\n"));
    EXPECT_EQ(qFromBigEndian<qint32>(bytes.constData() + 16), size);
    EXPECT_EQ(qFromBigEndian<qint32>(bytes.constData() + 20), size);
    EXPECT_EQ(int(bytes[24]), 8);  // bit depth
    EXPECT_EQ(int(bytes[25]), 2);  // RGB
    EXPECT_EQ(int(bytes[28]), 0);  // not interlaced
    EXPECT_EQ(QImage(pngPath).convertToFormat(QImage::Format_RGB32), expectedThumbnail(mapPath, size))
        << qPrintable(pngPath);
}

void expectBmpOf(const QString& bmpPath, const QString& mapPath)
{
    QFile file(bmpPath);
    ASSERT_TRUE(file.open(QIODevice::ReadOnly)) << qPrintable(bmpPath);
    const QByteArray bytes = file.readAll();
    ASSERT_GE(bytes.size(), 54);
    EXPECT_EQ(bytes.left(2), "BM");
    EXPECT_EQ(qFromLittleEndian<qint32>(bytes.constData() + 14), 40);
    EXPECT_EQ(qFromLittleEndian<qint32>(bytes.constData() + 18), 160);
    EXPECT_EQ(std::abs(qFromLittleEndian<qint32>(bytes.constData() + 22)), 160);
    EXPECT_EQ(qFromLittleEndian<qint16>(bytes.constData() + 28), 24);
    EXPECT_EQ(QImage(bmpPath).convertToFormat(QImage::Format_RGB32), expectedThumbnail(mapPath))
        << qPrintable(bmpPath);
}

// Runs program with arguments as raw bytes (QProcess would pass them as UTF-8 text); returns the
// exit status and what went to standard error.
std::pair<int, QByteArray> runBytes(const QByteArray& program, const std::vector<QByteArray>& args)
{
    QTemporaryDir dir;
    const QByteArray errFile = QFile::encodeName(dir.filePath("stderr"));
    std::vector<char*> argv{const_cast<char*>(program.constData())};
    for (const QByteArray& arg : args)
        argv.push_back(const_cast<char*>(arg.constData()));
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 2, errFile.constData(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    pid_t pid = 0;
    const int spawned = posix_spawn(&pid, program.constData(), &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    int status = 0;
    if (spawned != 0 || waitpid(pid, &status, 0) != pid || !WIFEXITED(status))
        return {-1, QByteArray()};
    QFile err(dir.filePath("stderr"));
    err.open(QIODevice::ReadOnly);
    return {WEXITSTATUS(status), err.readAll()};
}

QImage previewOf(const QString& path)
{
    QImage image(path);
    EXPECT_EQ(image.format(), QImage::Format_ARGB32) << qPrintable(path);  // an RGBA PNG
    return image;
}

} // namespace

TEST(ThumbCli, NamesThatAreNotUtf8KeepTheirBytes)
{
    QTemporaryDir dir;
    const QByteArray folder = QFile::encodeName(dir.path()) + '/';
    writeMap(dir, "plain.ivm", 9, 9);
    ASSERT_EQ(::rename(folder + "plain.ivm", folder + "map\xff.ivm"), 0);
    const QByteArray thumb = IV_BINARY_DIR "/thumb/thumb";
    const struct {
        std::vector<QByteArray> args;
        QByteArray written;  // empty: nothing
        QByteArray err;
    } cases[] = {
        {{"-o", folder + "o.png", folder + "map\xff.ivm"}, folder + "o.png", ""},
        {{"-o", folder + "out\xff\xc3.png", folder + "map\xff.ivm"}, folder + "out\xff\xc3.png", ""},
        {{"-o", folder + "many\xfe", folder + "map\xff.ivm", folder + "map\xff.ivm"},
         folder + "many\xfe/map\xff.bmp", ""},
        {{"-o", folder + "x.png", folder + "gone\xe2\x82.ivm"}, "",
         "thumb: " + folder + "gone\xe2\x82.ivm: File not found.\n"},
    };
    for (const auto& c : cases) {
        const auto [status, err] = runBytes(thumb, c.args);
        EXPECT_EQ(status, c.err.isEmpty() ? 0 : 1) << c.args.back().constData();
        EXPECT_EQ(err, c.err);
        if (!c.written.isEmpty()) {
            struct stat written {};
            EXPECT_EQ(::stat(c.written.constData(), &written), 0) << c.written.constData();
            EXPECT_GT(written.st_size, 1000);
        }
    }
    // Nothing was written under another name. (Qt cannot name these files; remove them here.)
    const std::filesystem::path folderPath(folder.toStdString());
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(folderPath), {}), 4);
    std::filesystem::remove_all(folderPath);
}

TEST(ThumbCli, AWindowProgramThatCannotStartIsNamedWithTheReason)
{
    QTemporaryDir dir;
    const QString thumb = dir.filePath("thumb");
    ASSERT_TRUE(QFile::copy(IV_BINARY_DIR "/thumb/thumb", thumb));
    const QString window = dir.filePath("thumb-window");
    const struct {
        std::function<void()> make;
        QString err;
    } cases[] = {
        {[] {}, "thumb: thumb-window: cannot start the window program: not found beside thumb (" + dir.path() + ")\n"},
        {[&] { QFile f(window); f.open(QIODevice::WriteOnly); f.write("#!/bin/sh\n"); },
         "thumb: " + window + ": cannot start the window program: not executable (its permissions do not allow running it)\n"},
        {[&] { QFile::remove(window); QDir().mkdir(window); },
         "thumb: " + window + ": cannot start the window program: not a regular file\n"},
    };
    for (const auto& c : cases) {
        c.make();
        const auto [status, err] = runBytes(QFile::encodeName(thumb), {});
        EXPECT_EQ(status, 1);
        EXPECT_EQ(QString::fromUtf8(err), c.err);
    }
}

TEST(ThumbCli, PreviewsFillTheirSquareCentredWithTransparentMargins)
{
    QTemporaryDir dir;
    auto mapOf = [&](const char* name, qint32 w, qint32 h, quint8 code) {
        const QString path = writeMap(dir, name, w, h);
        MapRecord record;
        readMapFile(path, record);
        for (int x = 1; x <= 100; ++x)
            for (int y = 1; y <= 100; ++y)
                record.setTerrain(x, y, code);
        QFile file(path);
        EXPECT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(reinterpret_cast<const char*>(record.bytes().data()), MapRecord::Size);
        return path;
    };
    const struct {
        QString map;
        int size;
        QRect opaque;  // the map's area; everything else is transparent
    } cases[] = {
        {mapOf("square.ivm", 100, 100, 2), 256, QRect(0, 0, 256, 256)},
        {mapOf("wide.ivm", 30, 12, 2), 256, QRect(0, 77, 256, 102)},  // 12 * 256 div 30 = 102
        {mapOf("tall.ivm", 7, 100, 2), 128, QRect(60, 0, 8, 128)},      // 7 * 128 div 100 = 8
        {mapOf("one.ivm", 1, 1, 2), 16, QRect(0, 0, 16, 16)},
        {mapOf("grass.ivm", 100, 50, 0), 64, QRect(0, 16, 64, 32)},
    };
    for (const auto& c : cases) {
        const QString out = c.map + ".preview";
        const ProcessResult run = runThumb({"--preview", "--size", QString::number(c.size), "-o", out, c.map});
        ASSERT_EQ(run.exitCode, 0) << qPrintable(run.err);
        const QImage image = previewOf(out);
        ASSERT_EQ(image.size(), QSize(c.size, c.size));
        for (int y = 0; y < c.size; ++y)
            for (int x = 0; x < c.size; ++x)
                ASSERT_EQ(qAlpha(image.pixel(x, y)), c.opaque.contains(x, y) ? 255 : 0) << qPrintable(out) << x << "," << y;
        // Water to the last pixel where every cell is water, grass where none has a picture.
        const QRgb corner = image.pixel(c.opaque.bottomRight());
        if (c.map.endsWith("grass.ivm"))
            EXPECT_GT(qGreen(corner), qBlue(corner));
        else
            EXPECT_GT(qBlue(corner), qGreen(corner)) << qPrintable(out);
    }
    // Without --preview the same map is drawn as before: whole pixels per cell, grass beyond.
    ASSERT_EQ(runThumb({"--size", "256", "-o", dir.filePath("plain.png"), cases[0].map}).exitCode, 0);
    expectPngOf(dir.filePath("plain.png"), cases[0].map, 256);
}

TEST(ThumbCli, PreviewsAreWrittenIntoTheFileTheClientMadeAndRefuseImpossibleMaps)
{
    QTemporaryDir dir;
    const QString good = writeMap(dir, "good.ivm", 20, 20);
    const QString out = dir.filePath("client-made.png");
    QFile client(out);
    ASSERT_TRUE(client.open(QIODevice::ReadWrite));  // the client keeps its file open and reads it back
    ProcessResult run = runThumb({"--preview", "--size", "128", "-o", out, good});
    ASSERT_EQ(run.exitCode, 0) << qPrintable(run.err);
    QImage fromClient;
    EXPECT_TRUE(fromClient.loadFromData(client.readAll(), "png"));
    EXPECT_EQ(fromClient.size(), QSize(128, 128));

    // Maps a preview cannot draw: exit 1, and the client's file stays empty.
    const struct {
        qint32 w, h;
    } bad[] = {{-5, 100000}, {0, 10}, {101, 5}, {5, 101}};
    for (const auto& b : bad) {
        const QString map = writeMap(dir, "bad.ivm", b.w, b.h);
        ASSERT_TRUE(client.resize(0));
        run = runThumb({"--preview", "-o", out, map});
        EXPECT_EQ(run.exitCode, 1);
        EXPECT_EQ(run.err, QStringLiteral("thumb: %1: Map size %2 x %3 is not 1 to 100 cells across and down.\n")
                               .arg(map).arg(b.w).arg(b.h));
        EXPECT_EQ(QFileInfo(out).size(), 0);
        run = runThumb({"--preview", "-o", dir.filePath("none.png"), map});
        EXPECT_EQ(run.exitCode, 1);
        EXPECT_FALSE(QFile::exists(dir.filePath("none.png")));
    }
}

TEST(ThumbCli, AFullDiskIsReportedWithItsReasonAndLeavesNoPartialPicture)
{
    QTemporaryDir dir;
    const QString map = writeMap(dir, "big.ivm", 100, 100);
    // A 16 KiB file system holds the client's empty file but not a 1024-pixel preview.
    const QByteArray disk = QFile::encodeName(dir.filePath("disk"));
    ASSERT_EQ(mkdir(disk.constData(), 0700), 0);
    if (mount("tmpfs", disk.constData(), "tmpfs", 0, "size=16k") != 0)
        GTEST_SKIP() << "cannot mount a small tmpfs here: " << strerror(errno);
    struct Unmount {
        const char* path;
        ~Unmount() { umount2(path, MNT_DETACH); }
    } unmount{disk.constData()};
    const QString out = dir.filePath("disk/client-made.png");
    QFile(out).open(QIODevice::WriteOnly);
    const ProcessResult run = runThumb({"--preview", "--size", "1024", "-o", out, map});
    EXPECT_EQ(run.exitCode, 1);
    EXPECT_EQ(run.err, "thumb: " + map + ": Stream write error: No space left on device.\n");
    EXPECT_EQ(QFileInfo(out).size(), 0);
    // Without --preview the new file is not left behind.
    ASSERT_TRUE(QFile::remove(out));
    const ProcessResult bmp = runThumb({"--size", "1024", "-o", dir.filePath("disk/t.bmp"), map});
    EXPECT_EQ(bmp.exitCode, 1);
    EXPECT_EQ(bmp.err, "thumb: " + map + ": Stream write error: No space left on device.\n");
    EXPECT_EQ(QDir(dir.filePath("disk")).entryList(QDir::Files | QDir::Hidden), QStringList());
}

TEST(ThumbCli, OneMapGoesToTheNamedFileWithTheBmpRule)
{
    QTemporaryDir dir;
    const QString map = writeMap(dir, "island.ivm", 12, 9);
    const struct {
        const char* given;
        const char* written;
    } cases[] = {{"plan", "plan.bmp"}, {"plan.jpg", "plan.jpg"}, {"plan.jpeg", "plan.jpeg.bmp"}, {"p", "p.bmp"}};
    for (const auto& c : cases) {
        const ProcessResult run = runThumb({"-o", dir.filePath(c.given), map});
        EXPECT_EQ(run.exitCode, 0) << qPrintable(run.err);
        EXPECT_EQ(run.err, "");
        expectBmpOf(dir.filePath(c.written), map);
    }
    // An existing file is replaced.
    const QString other = writeMap(dir, "other", 3, 3);
    EXPECT_EQ(runThumb({"-o", dir.filePath("plan"), other}).exitCode, 0);
    expectBmpOf(dir.filePath("plan.bmp"), other);
}

TEST(ThumbCli, SeveralMapsGoIntoAFolderThatIsCreated)
{
    QTemporaryDir dir;
    const QString a = writeMap(dir, "a.ivm", 100, 100);
    const QString b = writeMap(dir, "b.v2.ivm", 7, 5);
    const QString c = writeMap(dir, "noext", 40, 30);
    const QString out = dir.filePath("new/thumbs");
    const ProcessResult run = runThumb({"-o", out, a, b, c});
    EXPECT_EQ(run.exitCode, 0) << qPrintable(run.err);
    expectBmpOf(out + "/a.bmp", a);
    expectBmpOf(out + "/b.v2.bmp", b);
    expectBmpOf(out + "/noext.bmp", c);
}

TEST(ThumbCli, FailingMapsAreReportedAndTheOthersStillWritten)
{
    QTemporaryDir dir;
    const QString good1 = writeMap(dir, "good1.ivm", 10, 10);
    const QString shortMap = writeMap(dir, "short.ivm", 10, 10, 10519);
    const QString zero = writeMap(dir, "zero.ivm", 0, 10);
    const QString missing = dir.filePath("missing.ivm");
    const QString good2 = writeMap(dir, "good2.ivm", 3, 2);
    const QString out = dir.filePath("out");
    const ProcessResult run = runThumb({"-o", out, good1, shortMap, missing, zero, good2});
    EXPECT_EQ(run.exitCode, 1);
    EXPECT_EQ(run.err, "thumb: " + shortMap + ": Read beyond end of file.\nthumb: " + missing
                           + ": File not found.\nthumb: " + zero + ": Division by zero.\n");
    expectBmpOf(out + "/good1.bmp", good1);
    expectBmpOf(out + "/good2.bmp", good2);
    EXPECT_FALSE(QFile::exists(out + "/short.bmp"));
    EXPECT_FALSE(QFile::exists(out + "/zero.bmp"));
}

QByteArray fileBytes(const QString& path);

// Each output that cannot be written is named with the system's reason, and nothing is written
// through a link in place of a file manager's preview.
TEST(ThumbCli, OutputThatCannotBeCreatedIsNamedWithTheSystemsReason)
{
    QTemporaryDir dir;
    // Readable by the user "nobody", as whom root runs the read-only case.
    ASSERT_EQ(chmod(QFile::encodeName(dir.path()).constData(), 0755), 0);
    const QString map = writeMap(dir, "m.ivm", 5, 5);
    QFile blocker(dir.filePath("file"));
    ASSERT_TRUE(blocker.open(QIODevice::WriteOnly));
    blocker.close();
    ASSERT_TRUE(QDir(dir.path()).mkdir("ro"));
    ASSERT_EQ(chmod(QFile::encodeName(dir.filePath("ro")).constData(), 0555), 0);
    const QString victim = dir.filePath("victim.png");
    QFile victimFile(victim);
    ASSERT_TRUE(victimFile.open(QIODevice::WriteOnly));
    victimFile.write("the user's own file");
    victimFile.close();
    ASSERT_TRUE(QFile::link(victim, dir.filePath("link.png")));
    ASSERT_TRUE(QFile::link(dir.filePath("gone.png"), dir.filePath("dangling.png")));

    const struct {
        QStringList args;
        QString target;
        QString reason;
        bool asNobody = false;
    } cases[] = {
        {{"-o", dir.filePath("missing/thumb.bmp")}, dir.filePath("missing/thumb.bmp"), "No such file or directory"},
        {{"--preview", "-o", dir.filePath("missing/p.png")}, dir.filePath("missing/p.png"), "No such file or directory"},
        {{"-o", dir.filePath("file/thumb.bmp")}, dir.filePath("file/thumb.bmp"), "Not a directory"},
        {{"-o", dir.filePath("file/sub"), map}, dir.filePath("file/sub/m.bmp"), "Not a directory"},
        {{"-o", dir.filePath("ro/thumb.bmp")}, dir.filePath("ro/thumb.bmp"), "Permission denied", true},
        {{"--preview", "-o", dir.filePath("link.png")}, dir.filePath("link.png"), "a symbolic link"},
        {{"--preview", "-o", dir.filePath("dangling.png")}, dir.filePath("dangling.png"), "a symbolic link"},
    };
    for (const auto& c : cases) {
        const ProcessResult run = runThumb(c.args + QStringList{map}, 60000, c.asNobody && geteuid() == 0);
        EXPECT_EQ(run.exitCode, 1) << qPrintable(c.args.join(' '));
        EXPECT_FALSE(run.err.isEmpty());
        EXPECT_EQ(run.err.split('\n', Qt::SkipEmptyParts),
                  QStringList(run.err.count('\n'), "thumb: " + map + ": Cannot create file " + c.target + ": " + c.reason + "."))
            << qPrintable(c.args.join(' '));
    }
    EXPECT_EQ(fileBytes(victim), "the user's own file");
    EXPECT_TRUE(QFileInfo(dir.filePath("link.png")).isSymLink());
    EXPECT_FALSE(QFileInfo::exists(dir.filePath("gone.png")));
    EXPECT_EQ(QDir(dir.filePath("ro")).entryList(QDir::NoDotAndDotDot | QDir::AllEntries | QDir::Hidden), QStringList());
}

QByteArray fileBytes(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

TEST(ThumbCli, AnOutputThatIsOneOfTheMapsIsRefusedAndTheMapKept)
{
    QTemporaryDir dir;
    const QString map = writeMap(dir, "m.ivm", 6, 6);
    const QString out = dir.filePath("out");
    QDir().mkpath(out);
    const QString mapInOut = writeMap(dir, "out/n.bmp", 4, 4);
    QFile::link(map, dir.filePath("link.bmp"));
    const QByteArray mapBytes = fileBytes(map);
    const struct {
        QStringList args;
        QString victim;
    } cases[] = {
        {{"-o", map, map}, map},
        {{"-o", dir.filePath("link.bmp"), map}, map},
        {{"-o", out, map, mapInOut}, mapInOut},  // out/n.bmp would be the second map's output
    };
    for (const auto& c : cases) {
        const QByteArray before = fileBytes(c.victim);
        const ProcessResult run = runThumb(c.args);
        EXPECT_EQ(run.exitCode, 1) << qPrintable(c.args.join(' '));
        EXPECT_TRUE(run.err.contains("is one of the input maps.")) << qPrintable(run.err);
        EXPECT_EQ(fileBytes(c.victim), before) << qPrintable(c.args.join(' '));
    }
    expectBmpOf(out + "/m.bmp", map);  // the other map of the folder run was still written
}

TEST(ThumbCli, TwoMapsWithOneNameIntoOneFolderReportTheSecond)
{
    QTemporaryDir dir;
    const QString first = writeMap(dir, "a/same.ivm", 5, 5);
    const QString second = writeMap(dir, "b/same.ivm", 9, 3);
    const QString out = dir.filePath("out");
    const ProcessResult run = runThumb({"-o", out, first, second, first});
    EXPECT_EQ(run.exitCode, 1);
    EXPECT_EQ(run.err, "thumb: " + second + ": The output " + out + "/same.bmp was already written for " + first + ".\n");
    expectBmpOf(out + "/same.bmp", first);
}

TEST(ThumbCli, PipesAndDevicesFailAtOnce)
{
    QTemporaryDir dir;
    const QString map = writeMap(dir, "m.ivm", 5, 5);
    const QString pipe = dir.filePath("pipe.bmp");
    ASSERT_EQ(mkfifo(QFile::encodeName(pipe).constData(), 0600), 0);
    const struct {
        QStringList args;
        QString err;
    } cases[] = {
        {{"-o", dir.filePath("t.bmp"), pipe}, "thumb: " + pipe + ": Not a regular file.\n"},
        {{"-o", dir.filePath("t.bmp"), "/dev/zero"}, "thumb: /dev/zero: Not a regular file.\n"},
        {{"-o", pipe, map}, "thumb: " + map + ": Cannot create file " + pipe + ": not a regular file.\n"},
        {{"--preview", "-o", pipe, map}, "thumb: " + map + ": Cannot create file " + pipe + ": not a regular file.\n"},
    };
    for (const auto& c : cases) {
        const ProcessResult run = runThumb(c.args, 10000);
        EXPECT_EQ(run.exitCode, 1) << qPrintable(c.args.join(' '));
        EXPECT_EQ(run.err, c.err);
    }
    EXPECT_FALSE(QFile::exists(dir.filePath("t.bmp")));
    EXPECT_EQ(QFileInfo(pipe).isFile(), false);  // still the pipe, not replaced by a bitmap
    EXPECT_TRUE(QFileInfo::exists(pipe));
}

TEST(ThumbCli, SizeAndFormatChooseThePictureAndTheName)
{
    QTemporaryDir dir;
    const QString map = writeMap(dir, "m.ivm", 7, 30);
    const struct {
        QStringList options;
        const char* given;
        const char* written;
        int size;  // 0: BMP at 160
    } cases[] = {
        {{"--size", "256"}, "big.png", "big.png", 256},
        {{}, "upper.PNG", "upper.PNG", 160},
        {{"--format", "png", "--size", "128"}, "tmp-name", "tmp-name", 128},
        {{"--format", "PNG"}, "plan.bmp", "plan.bmp", 160},
        {{"--format", "bmp"}, "exact", "exact", 0},
        {{"--size=1024"}, "huge.png", "huge.png", 1024},
        {{"--size", "16"}, "tiny.png", "tiny.png", 16},
    };
    for (const auto& c : cases) {
        const ProcessResult run = runThumb(c.options + QStringList{"-o", dir.filePath(c.given), map});
        EXPECT_EQ(run.exitCode, 0) << qPrintable(run.err);
        if (c.size == 0)
            expectBmpOf(dir.filePath(c.written), map);
        else
            expectPngOf(dir.filePath(c.written), map, c.size);
    }
    EXPECT_EQ(QDir(dir.path()).entryList(QDir::Files).size(), 1 + int(std::size(cases)));

    // --fill: the cells fill the square (a 7 x 30 map's cells are 36 or 37 by 8 or 9 pixels).
    ASSERT_EQ(runThumb({"--size", "256", "--fill", "-o", dir.filePath("filled.png"), map}).exitCode, 0);
    const QImage filled = QImage(dir.filePath("filled.png")).convertToFormat(QImage::Format_RGB32);
    EXPECT_EQ(filled, expectedThumbnail(map, 256, true));
    EXPECT_NE(filled, expectedThumbnail(map, 256));

    // At 160 the sized export is today's bitmap, byte for byte.
    ASSERT_EQ(runThumb({"-o", dir.filePath("plain.bmp"), map}).exitCode, 0);
    ASSERT_EQ(runThumb({"--size", "160", "-o", dir.filePath("sized.bmp"), map}).exitCode, 0);
    EXPECT_EQ(fileBytes(dir.filePath("sized.bmp")), fileBytes(dir.filePath("plain.bmp")));

    // A folder of PNGs.
    const QString other = writeMap(dir, "other.ivm", 100, 100);
    ASSERT_EQ(runThumb({"--format", "png", "--size", "64", "-o", dir.filePath("pngs"), map, other}).exitCode, 0);
    expectPngOf(dir.filePath("pngs/m.png"), map, 64);
    expectPngOf(dir.filePath("pngs/other.png"), other, 64);
}

TEST(ThumbCli, BadSizesAndFormatsAreBadUsage)
{
    const struct {
        QStringList args;
        const char* err;
    } cases[] = {
        {{"--size", "15", "-o", "x", "m"}, "thumb: --size 15: not a whole number from 16 to 1024\n"},
        {{"--size", "1025", "-o", "x", "m"}, "thumb: --size 1025: not a whole number from 16 to 1024\n"},
        {{"--size", "12px", "-o", "x", "m"}, "thumb: --size 12px: not a whole number from 16 to 1024\n"},
        {{"--format", "jpg", "-o", "x", "m"}, "thumb: --format jpg: not bmp or png\n"},
    };
    for (const auto& c : cases) {
        const ProcessResult run = runThumb(c.args);
        EXPECT_EQ(run.exitCode, 2) << qPrintable(c.args.join(' '));
        EXPECT_EQ(run.err, c.err);
    }
    const ProcessResult version = runThumb({"--version"});
    EXPECT_EQ(version.exitCode, 0);
    EXPECT_TRUE(version.out.startsWith("thumb 1.")) << qPrintable(version.out);
}

TEST(ThumbCli, HelpAndBadUsage)
{
    const ProcessResult help = runThumb({"--help"});
    EXPECT_EQ(help.exitCode, 0);
    EXPECT_TRUE(help.out.startsWith("Usage: thumb -o OUT MAP...")) << qPrintable(help.out);

    // One line each, named by the program, saying what is wrong.
    const struct {
        QStringList args;
        const char* err;
    } bad[] = {{{"-o"}, "thumb: Missing value after '-o'. (see thumb --help)\n"},
               {{"-o", "out"}, "thumb: no map given (see thumb --help)\n"},
               {{"a.ivm", "b.ivm"}, "thumb: -o OUT is needed (see thumb --help)\n"},
               {{"-x", "-o", "out", "m"}, "thumb: Unknown option 'x'. (see thumb --help)\n"},
               {{"-o", "a", "-o", "b", "m"}, "thumb: -o given more than once (see thumb --help)\n"},
               {{"--help", "extra"}, "thumb: --help and --version take nothing else (see thumb --help)\n"},
               {{"--version", "-o", "x", "m"}, "thumb: --help and --version take nothing else (see thumb --help)\n"},
               {{"--size", "64", "--size", "32", "-o", "x", "m"}, "thumb: --size given more than once (see thumb --help)\n"},
               {{"--preview", "--format", "bmp", "-o", "x", "m"}, "thumb: --preview makes PNG pictures, not --format bmp\n"}};
    for (const auto& c : bad) {
        const ProcessResult run = runThumb(c.args);
        EXPECT_EQ(run.exitCode, 2) << qPrintable(c.args.join(' '));
        EXPECT_EQ(run.err, c.err);
    }
}

TEST(ThumbCli, TheWindowIsAnotherProgramAndTheCommandLineLoadsNoWidgets)
{
    // Without arguments thumb hands over to the window program, which finds no display here.
    const ProcessResult window = runThumb({});
    EXPECT_EQ(window.exitCode, 2);
    EXPECT_TRUE(window.err.startsWith("thumb: no display to open the window on")) << qPrintable(window.err);

    QProcess ldd;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("LD_TRACE_LOADED_OBJECTS", "1");
    ldd.setProcessEnvironment(env);
    ldd.start(QStringLiteral(IV_BINARY_DIR "/thumb/thumb"), {});
    ASSERT_TRUE(ldd.waitForFinished(60000));
    const QString libraries = QString::fromLocal8Bit(ldd.readAllStandardOutput());
    EXPECT_TRUE(libraries.contains("libQt6Gui")) << qPrintable(libraries);
    EXPECT_FALSE(libraries.contains("libQt6Widgets")) << qPrintable(libraries);
}

TEST(ThumbCli, WhichArgumentsMeanTheCommandLine)
{
    const struct {
        QStringList args;
        bool commandLine;
    } cases[] = {
        {{"thumb"}, false},
        {{"thumb", "-platform", "offscreen"}, false},
        {{"thumb", "-reverse"}, false},
        {{"thumb", "-o", "x", "m"}, true},
        {{"thumb", "--help"}, true},
        {{"thumb", "-platform", "offscreen", "-o", "x", "m"}, true},
        {{"thumb", "map.ivm"}, true},
    };
    for (const auto& c : cases)
        EXPECT_EQ(isCommandLineRun(c.args), c.commandLine) << qPrintable(c.args.join(' '));
}

TEST(ThumbCli, BmpNamingRule)
{
    const struct {
        const char* in;
        const char* out;
    } cases[] = {{"/x/plan", "/x/plan.bmp"}, {"/x/plan.jpg", "/x/plan.jpg"}, {"/x/plan.jpeg", "/x/plan.jpeg.bmp"},
                 {"/x/.bmp", "/x/.bmp"}, {"ab", "ab.bmp"}, {"", ".bmp"}};
    for (const auto& c : cases)
        EXPECT_EQ(withBmpExtension(c.in), c.out);
}
