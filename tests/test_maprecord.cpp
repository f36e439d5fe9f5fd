// Reading a map file: the record's layout, the length rules, and every error with its text.

#include "Exception.h"
#include "MapRecord.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <cerrno>
#include <memory>
#include <sys/resource.h>
#include <unistd.h>

namespace {

QString writeFile(const QTemporaryDir& dir, const QString& name, const QByteArray& bytes)
{
    const QString path = dir.filePath(name);
    QFile file(path);
    EXPECT_TRUE(file.open(QIODevice::WriteOnly));
    file.write(bytes);
    return path;
}

QByteArray patterned(int size)
{
    QByteArray bytes(size, '\0');
    for (int i = 0; i < size; ++i)
        bytes[i] = char((i * 7 + 3) & 0xFF);
    return bytes;
}

// The error readMapFile raises for path, as (number, message); (0, "") when it succeeds.
std::pair<int, QString> readError(const QString& path)
{
    MapRecord record;
    try {
        readMapFile(path, record);
        return {0, QString()};
    } catch (const EInOutError& e) {
        return {e.errorCode(), e.message()};
    }
}

int openDescriptors()
{
    return int(QDir(QStringLiteral("/proc/self/fd")).entryList(QDir::Files | QDir::System).size());
}

} // namespace

TEST(MapRecord, FieldsSitAtTheirOffsets)
{
    QByteArray bytes(MapRecord::Size, '\0');
    bytes[308] = 3; // MapWidth = 3
    bytes[312] = 2; // MapHeight = 2
    const int used[] = {418, 419, 519, 520, 620, 621};
    for (int i = 0; i < 6; ++i)
        bytes[used[i]] = char(10 + i);
    bytes[417] = bytes[420] = bytes[518] = bytes[622] = char(99); // neighbours, never used

    QTemporaryDir dir;
    auto record = std::make_unique<MapRecord>();
    readMapFile(writeFile(dir, "three-by-two.ivm", bytes), *record);
    EXPECT_EQ(record->MapWidth(), 3);
    EXPECT_EQ(record->MapHeight(), 2);
    int i = 0;
    for (int x = 1; x <= 3; ++x)
        for (int y = 1; y <= 2; ++y, ++i) {
            EXPECT_EQ(MapRecord::terrainOffset(x, y), used[i]);
            EXPECT_EQ(record->Terrain(x, y), 10 + i) << x << "," << y;
        }
    EXPECT_EQ(MapRecord::terrainOffset(100, 100), 10516);
}

TEST(MapRecord, DimensionsAreSignedLittleEndian)
{
    MapRecord record;
    record.setMapWidth(-5);
    record.setMapHeight(0x01020304);
    EXPECT_EQ(record.bytes()[308], 0xFB);
    EXPECT_EQ(record.bytes()[311], 0xFF);
    EXPECT_EQ(record.bytes()[312], 0x04);
    EXPECT_EQ(record.bytes()[315], 0x01);
    EXPECT_EQ(record.MapWidth(), -5);
    EXPECT_EQ(record.MapHeight(), 0x01020304);
}

TEST(MapRecord, LengthDecidesBetweenRecordAndReadBeyondEnd)
{
    QTemporaryDir dir;
    const struct {
        int size;
        bool ok;
    } cases[] = {{10520, true}, {20000, true}, {10519, false}, {1, false}, {0, false}};
    for (const auto& c : cases) {
        const QByteArray bytes = patterned(c.size);
        const QString path = writeFile(dir, QStringLiteral("map%1").arg(c.size), bytes);
        MapRecord record;
        try {
            readMapFile(path, record);
            EXPECT_TRUE(c.ok) << c.size;
            EXPECT_EQ(QByteArray(reinterpret_cast<const char*>(record.bytes().data()), MapRecord::Size),
                      bytes.left(MapRecord::Size));
        } catch (const EInOutError& e) {
            EXPECT_FALSE(c.ok) << c.size;
            EXPECT_EQ(e.errorCode(), 100);
            EXPECT_EQ(e.message(), "Read beyond end of file");
        }
    }
}

TEST(MapRecord, OpenErrorsHaveTheRuntimesTexts)
{
    QTemporaryDir dir;
    writeFile(dir, "plain", patterned(MapRecord::Size));
    QDir(dir.path()).mkdir("folder");
    const struct {
        QString path;
        int code;
        const char* message;
    } cases[] = {
        {dir.filePath("missing.ivm"), 2, "File not found"},
        {dir.filePath("no-such-folder/map.ivm"), 3, "Invalid filename"},
        {dir.filePath("plain/map.ivm"), 3, "Invalid filename"},
        {dir.filePath("folder"), 5, "File access denied"},
        {QString(), 2, "File not found"},
    };
    for (const auto& c : cases) {
        const auto [code, message] = readError(c.path);
        EXPECT_EQ(code, c.code) << qPrintable(c.path);
        EXPECT_EQ(message, c.message) << qPrintable(c.path);
    }
}

TEST(MapRecord, RefusedAccessIsFileAccessDenied)
{
    QTemporaryDir dir;
    const QString path = writeFile(dir, "locked.ivm", patterned(MapRecord::Size));
    ASSERT_TRUE(QFile::setPermissions(path, QFileDevice::Permissions()));
    // Root reads any file whatever its mode; look at it as an ordinary user for this check.
    const bool root = geteuid() == 0;
    if (root) {
        ASSERT_TRUE(QFile::setPermissions(dir.path(), QFileDevice::Permissions(0x7755)));
        ASSERT_EQ(seteuid(65534), 0) << "cannot act as an ordinary user";
    }
    const auto [code, message] = readError(path);
    if (root) {
        ASSERT_EQ(seteuid(0), 0);
    }
    EXPECT_EQ(code, 5);
    EXPECT_EQ(message, "File access denied");
}

TEST(MapRecord, TooManyOpenFiles)
{
    QTemporaryDir dir;
    const QString path = writeFile(dir, "map.ivm", patterned(MapRecord::Size));
    rlimit saved{};
    ASSERT_EQ(getrlimit(RLIMIT_NOFILE, &saved), 0);
    rlimit low = saved;
    low.rlim_cur = 256;
    ASSERT_EQ(setrlimit(RLIMIT_NOFILE, &low), 0);
    std::vector<int> spare;
    for (int fd; (fd = dup(0)) >= 0;)
        spare.push_back(fd);
    const auto [code, message] = readError(path);
    for (int fd : spare)
        close(fd);
    setrlimit(RLIMIT_NOFILE, &saved);
    EXPECT_EQ(code, 4);
    EXPECT_EQ(message, "Too many open files");
}

TEST(MapRecord, FailedReadLeavesTheRecordAndNoOpenFile)
{
    QTemporaryDir dir;
    const QString good = writeFile(dir, "good.ivm", patterned(MapRecord::Size));
    const QString shortFile = writeFile(dir, "short.ivm", patterned(5000));
    auto record = std::make_unique<MapRecord>();
    readMapFile(good, *record);
    const auto before = record->bytes();

    const int open = openDescriptors();
    for (int i = 0; i < 20; ++i) {
        EXPECT_THROW(readMapFile(shortFile, *record), EInOutError);
        EXPECT_THROW(readMapFile(dir.filePath("missing"), *record), EInOutError);
        readMapFile(good, *record);
    }
    EXPECT_EQ(openDescriptors(), open);
    EXPECT_EQ(record->bytes(), before);

    EXPECT_THROW(readMapFile(shortFile, *record), EInOutError);
    EXPECT_EQ(record->bytes(), before) << "a short file must not change the record";
}
