// The language table and the line rules it shares with the update list.

#include "LineReader.h"
#include "TempDir.h"
#include "run/plan/UpdateSettings.h"
#include "run/lang/langSys.h"

#include "Exception.h"

#include <gtest/gtest.h>

#include <QFile>
#include <QIODevice>

#include <algorithm>
#include <cstring>

#include <utility>
#include <vector>

namespace {
using Lookups = std::vector<std::pair<QByteArray, QByteArray>>;

struct LanguageCase {
    const char* name;
    QByteArray file;
    Lookups lookups;
};

QByteArray loadAndTranslate(const QByteArray& content, const QByteArray& key)
{
    TempDir dir;
    EXPECT_TRUE(LoadLanguageFile(dir.write("renewel.lng", content)));
    return Translate(key);
}
}  // namespace

TEST(LanguageTable, FileRulesGiveTheseTexts)
{
    const std::vector<LanguageCase> cases = {
        {"comment lines only", "; comment\r\n\r\n Update x\r\nUpdate y\r\n", {{"Update", "[error]"}, {"", "[error]"}}},
        {"key without text", "#Done\r\n", {{"Done", ""}}},
        {"text kept exactly", "#Done  ok \r\n", {{"Done", " ok "}}},
        {"inner hashes and spaces", "#panel a # b  c\n", {{"panel", "a # b  c"}}},
        {"last duplicate wins, case folded", "#Error A\n#error B\n", {{"ERROR", "B"}, {"eRRoR", "B"}}},
        {"a text equal to a key is no key", "#Update Update\n#status1 Ready\n", {{"Update", "Update"}, {"status1", "Ready"}}},
        {"space after hash: empty key", "# whole rest\n", {{"", "whole rest"}, {"whole", "[error]"}}},
        {"hash alone yields nothing", "#\n#x 1\n", {{"", "[error]"}, {"x", "1"}}},
        {"LF and CR LF end lines", "#a 1\n#b 2\r\n#c 3", {{"a", "1"}, {"b", "2"}, {"c", "3"}}},
        {"lone CR is dropped, line goes on", "#a 1\r2\n#b x\r\r\n", {{"a", "12"}, {"b", "x"}}},
        {"Ctrl+Z at line start ends the file", "#a 1\n\x1a#b 2\n#c 3\n", {{"a", "1"}, {"b", "[error]"}, {"c", "[error]"}}},
        {"Ctrl+Z inside a line is text", "#a 1\x1a 2\n#b 3\n", {{"a", "1\x1a 2"}, {"b", "3"}}},
        {"case folding is ASCII only", "#\xc4rger x\n", {{"\xc4rger", "x"}, {"\xe4rger", "[error]"}}},
        {"empty file", "", {{"Done", "[error]"}}},
    };
    for (const LanguageCase& c : cases) {
        for (const auto& [key, expected] : c.lookups)
            EXPECT_EQ(loadAndTranslate(c.file, key), expected) << c.name << ", key " << key.constData();
    }
}

TEST(LanguageTable, HoldsKeysAndTextsInFileOrder)
{
    TempDir dir;
    ASSERT_TRUE(LoadLanguageFile(dir.write("l.lng", "#b 2\nx\n#a 1\n#b 3\n")));
    EXPECT_EQ(LanguageTable().items(), (QList<QByteArray>{"b", "2", "a", "1", "b", "3"}));
}

TEST(LanguageTable, SecondLoadReplacesTheTable)
{
    TempDir dir;
    ASSERT_TRUE(LoadLanguageFile(dir.write("one.lng", "#a 1\n#b 2\n")));
    ASSERT_TRUE(LoadLanguageFile(dir.write("two.lng", "#a 9\n")));
    EXPECT_EQ(Translate("a"), "9");
    EXPECT_EQ(Translate("b"), "[error]");
}

TEST(LanguageTable, MissingFileIsReportedAndLeavesAnEmptyTable)
{
    TempDir dir;
    ASSERT_TRUE(LoadLanguageFile(dir.write("old.lng", "#a 1\n")));
    EXPECT_FALSE(LoadLanguageFile(dir.filePath("renewel.lng")));
    EXPECT_EQ(Translate("a"), "[error]");
    EXPECT_FALSE(LoadLanguageFile(dir.path()));  // a folder can't be read as a file
}

namespace {
// The process's resident memory in bytes, from /proc/self/status; 0 where that can't be read.
qint64 residentBytes()
{
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly))
        return 0;
    for (const QByteArray& line : status.readAll().split('\n')) {
        if (line.startsWith("VmRSS:"))
            return line.mid(6).trimmed().split(' ').value(0).toLongLong() * 1024;
    }
    return 0;
}
}  // namespace

TEST(LanguageTable, HugeFileCostsLittleMoreThanItsSize)
{
    TempDir dir;
    QFile file(dir.filePath("huge.lng"));
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    constexpr int kLines = 2'000'000;
    QByteArray chunk;
    for (int i = 0; i < kLines; ++i) {
        chunk += "#k" + QByteArray::number(i) + " text " + QByteArray::number(i) + "\r\n";
        if (chunk.size() > (1 << 20) || i + 1 == kLines) {
            ASSERT_EQ(file.write(chunk), chunk.size());
            chunk.clear();
        }
    }
    file.close();
    const qint64 before = residentBytes();

    ASSERT_TRUE(LoadLanguageFile(file.fileName()));

    const qint64 grown = residentBytes() - before;
    EXPECT_EQ(LanguageTable().count(), kLines);
    EXPECT_EQ(Translate("K1999999"), "text 1999999");
    EXPECT_EQ(Translate("k0"), "text 0");
#ifndef __SANITIZE_ADDRESS__  // the sanitizer keeps freed memory resident in its quarantine
    EXPECT_LT(grown, 3 * file.size()) << "file " << file.size() << " bytes";
#endif
    ASSERT_TRUE(LoadLanguageFile(dir.write("small.lng", "#a 1\n")));  // gives the memory back
}

namespace {
// A source whose storage fails after some data, as a failing disk would: reads hand out the
// bytes in small pieces, then fail.
class FailingSource : public QIODevice {
public:
    explicit FailingSource(QByteArray data) : data_(std::move(data)) { open(QIODevice::ReadOnly | QIODevice::Unbuffered); }

protected:
    qint64 readData(char* out, qint64 max) override
    {
        if (pos_ >= data_.size())
            return -1;
        const qint64 n = std::min<qint64>({max, 4, data_.size() - pos_});
        memcpy(out, data_.constData() + pos_, size_t(n));
        pos_ += n;
        return n;
    }
    qint64 writeData(const char*, qint64) override { return -1; }
    bool isSequential() const override { return true; }

private:
    QByteArray data_;
    qint64 pos_ = 0;
};
}  // namespace

TEST(LanguageTable, EntriesReadBeforeAReadFailureStay)
{
    FailingSource source("#a 1\n#b 2\n#c 3");
    EXPECT_FALSE(LoadLanguageFile(source));
    EXPECT_EQ(Translate("a"), "1");
    EXPECT_EQ(Translate("b"), "2");
    EXPECT_EQ(Translate("c"), "[error]");  // its line never ended
}

TEST(LineRules, ReaderHandlesLinesAcrossItsBuffer)
{
    TempDir dir;
    QByteArray content = QByteArray(65535, 'x') + "\r";
    content += "\n" + QByteArray(70000, 'y') + "\r" + "z";
    LineReader reader(dir.write("big.txt", content));
    EXPECT_EQ(reader.readLine(), QByteArray(65535, 'x'));
    EXPECT_EQ(reader.readLine(), QByteArray(70000, 'y') + "z");
    EXPECT_TRUE(reader.atEnd());
    EXPECT_EQ(reader.readLine(), QByteArray());
}


// A key that may repeat keeps every occurrence, in file order, beside the last-wins look-up.
TEST(UpdateSettings, ReadsEveryMirrorAndClampsConnections)
{
    const QByteArray file = "#UpdateSite http://site/\r\n#UpdateMirror http://a/\r\n#updatemirror http://b/\r\n"
                            "#UpdateMirror\r\n#UpdateConnections 500\r\n";
    TempDir dir;
    ASSERT_TRUE(LoadLanguageFile(dir.write("renewel.lng", file)));
    const UpdateSettings settings = UpdateSettings::fromTable(LanguageTable());
    EXPECT_EQ(settings.Site, "http://site/");
    EXPECT_EQ(settings.Mirrors, (std::vector<QByteArray>{"http://a/", "http://b/"}));
    EXPECT_EQ(settings.Connections, UpdateSettings::MaxConnections);
    EXPECT_EQ(Translate("UpdateMirror"), "");

    ASSERT_TRUE(LoadLanguageFile(dir.write("renewel.lng", "#UpdateSite http://site/\r\n")));
    EXPECT_TRUE(UpdateSettings::fromTable(LanguageTable()).Mirrors.empty());
    EXPECT_EQ(UpdateSettings::fromTable(LanguageTable()).Connections, UpdateSettings::DefaultConnections);
}
