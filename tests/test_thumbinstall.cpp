// thumb installed the way a desktop uses it: "cmake --install" of the thumb component into a
// staging folder, then the MIME type as a desktop resolves it, the thumbnailer's Exec line run
// as a file manager runs it, and the desktop entry checked by desktop-file-validate.

#include "MapRecord.h"
#include "ProcessRun.h"
#include "PaintMap.h"
#include "ThumbnailExport.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>

namespace {

struct Result {
    int exitCode = -1;
    QString out;
    QString err;
};

Result run(const QString& program, const QStringList& args, const QProcessEnvironment& env)
{
    const ProcessRun run = runProcess(program, args, 120000, env);
    return {run.exitCode, QString::fromLocal8Bit(run.out), QString::fromLocal8Bit(run.err)};
}

// The value of key in group of a desktop-style key file, as written (no list or escape handling).
QString keyValue(const QString& file, const QString& group, const QString& key)
{
    QFile in(file);
    if (!in.open(QIODevice::ReadOnly | QIODevice::Text))
        return QString();
    QString current;
    for (const QString& line : QString::fromUtf8(in.readAll()).split('\n')) {
        if (line.startsWith('[') && line.endsWith(']'))
            current = line.mid(1, line.size() - 2);
        else if (current == group && line.startsWith(key + '='))
            return line.mid(key.size() + 1);
    }
    return QString();
}

// One staging install for all tests of this program.
class ThumbInstall : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        stage = new QTemporaryDir;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("DESTDIR", stage->path());
        const Result install = run(QStringLiteral(IV_CMAKE_COMMAND),
                                {"--install", IV_BINARY_DIR, "--component", "thumb", "--prefix", "/usr"}, env);
        installed = install.exitCode == 0;
        if (!installed)
            ADD_FAILURE() << qPrintable(install.out + install.err);
    }
    static void TearDownTestSuite()
    {
        delete stage;
        stage = nullptr;
    }
    void SetUp() override { ASSERT_TRUE(installed); }

    static QString usr(const QString& path) { return stage->filePath("usr/" + path); }

    // A desktop session's environment that sees only the staged data folder and the staged
    // program (besides the system's commands).
    static QProcessEnvironment desktop(const QTemporaryDir& home)
    {
        QProcessEnvironment env;
        env.insert("PATH", usr("bin") + ":/usr/bin:/bin");
        env.insert("HOME", home.path());
        env.insert("XDG_DATA_HOME", home.filePath("data"));
        env.insert("XDG_DATA_DIRS", usr("share"));
        env.insert("XDG_CURRENT_DESKTOP", "GNOME");
        for (const char* keep : {"ASAN_OPTIONS", "UBSAN_OPTIONS", "LSAN_OPTIONS"})
            if (qEnvironmentVariableIsSet(keep))
                env.insert(keep, qEnvironmentVariable(keep));
        return env;
    }

    static void requireTool(const char* tool)
    {
        if (QStandardPaths::findExecutable(tool).isEmpty())
            GTEST_SKIP() << tool << " is not installed (scripts/install-deps.sh installs it)";
    }

    static QString writeMap(const QString& path, qint32 w, qint32 h)
    {
        MapRecord record;
        record.setMapWidth(w);
        record.setMapHeight(h);
        for (int x = 1; x <= 100; ++x)
            for (int y = 1; y <= 100; ++y)
                record.setTerrain(x, y, quint8((x * 5 + y * 3) % 10));
        QDir().mkpath(QFileInfo(path).path());
        QFile file(path);
        EXPECT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(reinterpret_cast<const char*>(record.bytes().data()), MapRecord::Size);
        return path;
    }

    static QTemporaryDir* stage;
    static bool installed;
};

QTemporaryDir* ThumbInstall::stage = nullptr;
bool ThumbInstall::installed = false;

} // namespace

TEST_F(ThumbInstall, MapFilesHaveTheirMimeTypeOnTheDesktop)
{
    requireTool("update-mime-database");
    requireTool("xdg-mime");
    requireTool("gio");
    QTemporaryDir home;
    const QProcessEnvironment env = desktop(home);
    const Result update = run("update-mime-database", {usr("share/mime")}, env);
    ASSERT_EQ(update.exitCode, 0) << qPrintable(update.err);

    const QString map = writeMap(home.filePath("island.ivm"), 12, 8);
    const Result query = run("xdg-mime", {"query", "filetype", map}, env);
    EXPECT_EQ(query.exitCode, 0) << qPrintable(query.err);
    EXPECT_EQ(query.out.trimmed(), "application/x-ironvale-map");

    QFile description(usr("share/mime/application/x-ironvale-map.xml"));
    ASSERT_TRUE(description.open(QIODevice::ReadOnly));
    EXPECT_TRUE(description.readAll().contains("<comment>Ironvale 3D map</comment>"));
}

TEST_F(ThumbInstall, ThumbnailerWritesPreviewsOfTheAskedSizeAndNothingForABadMap)
{
    const QString file = usr("share/thumbnailers/ironvale-map.thumbnailer");
    auto entry = [&](const char* key) { return keyValue(file, "Thumbnailer Entry", key); };
    EXPECT_EQ(entry("TryExec"), "thumb");
    EXPECT_EQ(entry("MimeType"), "application/x-ironvale-map;");
    const QString exec = entry("Exec");
    ASSERT_FALSE(exec.isEmpty());

    QTemporaryDir home;
    const QProcessEnvironment env = desktop(home);
    const QString map = writeMap(home.filePath("my maps/coast.ivm"), 7, 30);
    BundledTextures textures;
    MapRecord record;
    readMapFile(map, record);

    // The file manager's way: %s the size, %i the map, %o a temporary name without extension.
    auto runExec = [&](int size, const QString& input, const QString& output) {
        QStringList words = exec.split(' ', Qt::SkipEmptyParts);
        for (QString& word : words) {
            if (word == "%s")
                word = QString::number(size);
            else if (word == "%i")
                word = input;
            else if (word == "%o")
                word = output;
        }
        const QString program = QStandardPaths::findExecutable(words.takeFirst(), {usr("bin")});
        EXPECT_EQ(program, usr("bin/thumb"));
        return run(program, words, env);
    };
    for (const int size : {128, 256}) {
        const QString output = home.filePath(QStringLiteral("thumbnail-%1.tmp").arg(size));
        const Result made = runExec(size, map, output);
        ASSERT_EQ(made.exitCode, 0) << size << qPrintable(made.err);
        EXPECT_EQ(made.err, "");
        QFile file(output);
        ASSERT_TRUE(file.open(QIODevice::ReadOnly));
        EXPECT_TRUE(file.read(8).startsWith("\x89PNG"));
        const QImage expected = MapRenderer().PaintPreview(record, textures.textures(), size);
        EXPECT_EQ(QImage(output), expected) << size;
    }

    QFile bad(home.filePath("bad.ivm"));
    ASSERT_TRUE(bad.open(QIODevice::WriteOnly));
    bad.write(QByteArray(100, 'x'));
    bad.close();
    const Result failed = runExec(128, bad.fileName(), home.filePath("bad-thumbnail"));
    EXPECT_NE(failed.exitCode, 0);
    EXPECT_FALSE(QFile::exists(home.filePath("bad-thumbnail")));
    EXPECT_EQ(QDir(home.path()).entryList({"bad*"}, QDir::Files), QStringList{"bad.ivm"});
}

TEST_F(ThumbInstall, DesktopEntryIsValidAndOpensMapsInTheWindow)
{
    // The installed thumb finds its window program (which reports the missing display here).
    QTemporaryDir home;
    const Result window = run(usr("bin/thumb"), {home.filePath("map.ivm")}, desktop(home));
    EXPECT_EQ(window.exitCode, 2);
    EXPECT_TRUE(window.err.startsWith("thumb: no display to open the window on")) << qPrintable(window.err);

    requireTool("desktop-file-validate");
    const QString file = usr("share/applications/ironvale-thumb.desktop");
    const Result validate = run("desktop-file-validate", {file}, QProcessEnvironment::systemEnvironment());
    EXPECT_EQ(validate.exitCode, 0) << qPrintable(validate.out + validate.err);
    EXPECT_FALSE(validate.out.contains("error")) << qPrintable(validate.out);

    auto entry = [&](const char* key) { return keyValue(file, "Desktop Entry", key); };
    EXPECT_EQ(entry("Exec"), "thumb %f");
    EXPECT_EQ(entry("MimeType"), "application/x-ironvale-map;");
    EXPECT_EQ(entry("StartupWMClass"), "ironvale-thumb");  // the window's class (test_thumbwindow)
    const QString icon = entry("Icon");
    for (const int size : {16, 32, 48, 256})
        EXPECT_EQ(QImage(usr(QStringLiteral("share/icons/hicolor/%1x%1/apps/%2.png").arg(size).arg(icon))).size(),
                  QSize(size, size));
}
