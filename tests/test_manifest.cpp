// Signed update lists: keys and signatures made by the real minisign tool (both algorithms),
// checked by the manifest library; SHA-256 against the sha256sum tool; update.sums lines;
// renewel.stamp.

#include "Manifest.h"
#include "Minisign.h"
#include "Sha256.h"
#include "Sums.h"
#include "TempDir.h"
#include "UpdateStamp.h"

#include <gtest/gtest.h>

#include <QProcess>

#include <functional>

namespace {

QByteArray run(const QString& program, const QStringList& args)
{
    QProcess process;
    process.start(program, args);
    process.closeWriteChannel();
    EXPECT_TRUE(process.waitForFinished(30000)) << program.toStdString();
    EXPECT_EQ(process.exitCode(), 0) << program.toStdString() << ": "
                                     << process.readAllStandardError().toStdString();
    return process.readAllStandardOutput();
}

QByteArray sumsLine(const QByteArray& data, const QByteArray& name)
{
    return Sha256::hash(data).toHex() + "  " + name + "\n";
}

const QByteArray UpdateList = "Ironvale 3D update list\r\n\\data\\units.dat\r\n5\r\n\\maps\\a.ivm\r\n3\r\n";
const QByteArray Sums = sumsLine(UpdateList, "update.txt") + sumsLine("units", "\\data\\units.dat")
    + sumsLine("map", "\\maps\\a.ivm");

class SignedList : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        dir = new TempDir;
        for (const QString& name : {QStringLiteral("a"), QStringLiteral("b")})
            run("minisign", {"-G", "-W", "-p", dir->filePath(name + ".pub"), "-s", dir->filePath(name + ".key")});
    }
    static void TearDownTestSuite() { delete dir; }

    static QByteArray keyLine(const QString& name) { return dir->read(name + ".pub").split('\n').value(1); }

    // update.sums signed by the tool; comment empty = the tool's own trusted comment.
    static QByteArray sign(const QByteArray& sums, const QByteArray& comment, bool legacy = false,
                           const QString& key = "a")
    {
        const QString file = dir->write("update.sums", sums);
        QStringList args = {"-S", "-s", dir->filePath(key + ".key"), "-m", file, "-x", file + ".minisig"};
        if (legacy)
            args << "-l";
        if (!comment.isEmpty())
            args << "-t" << QString::fromLatin1(comment);
        run("minisign", args);
        return dir->read("update.sums.minisig");
    }

    static SignedListInput input(const QByteArray& comment = "timestamp:1000 expires:5000")
    {
        SignedListInput in;
        in.updateList = UpdateList;
        in.sums = Sums;
        in.signature = sign(Sums, comment);
        in.keyLine = keyLine("a");
        in.storedTimestamp = 900;
        in.now = 2000;
        in.listedPaths = {"\\data\\units.dat", "\\maps\\a.ivm"};
        return in;
    }

    static inline TempDir* dir = nullptr;
};

// Replaces byte `index` of the decoded signature line `line` (1 or 3) of a .minisig.
QByteArray alterSignatureLine(const QByteArray& minisig, int line, int index)
{
    QList<QByteArray> lines = minisig.split('\n');
    QByteArray bytes = QByteArray::fromBase64(lines[line]);
    bytes[index] = char(bytes[index] ^ 0x01);
    lines[line] = bytes.toBase64();
    return lines.join('\n');
}

TEST_F(SignedList, AcceptsWhatTheKeySignedAndRefusesEveryChangeWithItsReason)
{
    struct Case {
        const char* what;
        std::function<void(SignedListInput&)> change;
        QString reason;  // start of the refusal; empty when accepted
    };
    const Case cases[] = {
        {"signed with BLAKE2b prehash", [](SignedListInput&) {}, ""},
        {"legacy signature over the file",
         [](SignedListInput& in) { in.signature = sign(Sums, "timestamp:1000", true); }, ""},
        {"the tool's own comment, tab-separated",
         [](SignedListInput& in) { in.signature = sign(Sums, ""); }, ""},
        {"same timestamp as stored", [](SignedListInput& in) { in.storedTimestamp = 1000; }, ""},
        {"nothing stored yet", [](SignedListInput& in) { in.storedTimestamp.reset(); }, ""},
        {"other key",
         [](SignedListInput& in) { in.signature = sign(Sums, "timestamp:1000", false, "b"); },
         "wrong key (signed with "},
        {"other key, legacy",
         [](SignedListInput& in) { in.signature = sign(Sums, "timestamp:1000", true, "b"); },
         "wrong key"},
        {"changed byte in update.sums", [](SignedListInput& in) { in.sums[70] = 'X'; }, "bad signature"},
        {"changed byte in the signature",
         [](SignedListInput& in) { in.signature = alterSignatureLine(in.signature, 1, 40); }, "bad signature"},
        {"changed trusted comment",
         [](SignedListInput& in) { in.signature.replace("timestamp:1000", "timestamp:9000"); },
         "bad signature of the trusted comment"},
        {"changed global signature",
         [](SignedListInput& in) { in.signature = alterSignatureLine(in.signature, 3, 5); },
         "bad signature of the trusted comment"},
        {"replayed older list", [](SignedListInput& in) { in.storedTimestamp = 1001; },
         "replayed list (timestamp 1000 older than 1001)"},
        {"expired", [](SignedListInput& in) { in.now = 5000; }, "expired list (expired at 5000, now 5000)"},
        {"no timestamp", [](SignedListInput& in) { in.signature = sign(Sums, "release 1.5"); },
         "no timestamp in the trusted comment"},
        {"timestamp not a number", [](SignedListInput& in) { in.signature = sign(Sums, "timestamp:1e3"); },
         "timestamp in the trusted comment is not a number"},
        {"two timestamps",
         [](SignedListInput& in) { in.signature = sign(Sums, "timestamp:1000\ttimestamp:1"); },
         "timestamp given twice"},
        {"changed update.txt", [](SignedListInput& in) { in.updateList.replace("5\r\n", "6\r\n"); },
         "update.txt does not match its checksum"},
        {"listed path without a sums line",
         [](SignedListInput& in) { in.listedPaths << "\\data\\x.dat"; }, "no checksum for \\data\\x.dat"},
        {"no line for update.txt",
         [](SignedListInput& in) {
             in.sums = sumsLine("units", "\\data\\units.dat") + sumsLine("map", "\\maps\\a.ivm");
             in.signature = sign(in.sums, "timestamp:1000");
         },
         "no checksum for update.txt"},
        {"signed but malformed sums",
         [](SignedListInput& in) {
             in.sums = Sums.toUpper();
             in.signature = sign(in.sums, "timestamp:1000");
         },
         "malformed update.sums (line 1: "},
        {"no signature file", [](SignedListInput& in) { in.signature.clear(); }, "no signature"},
        {"signature file cut short",
         [](SignedListInput& in) { in.signature = in.signature.left(in.signature.lastIndexOf("trusted")); },
         "malformed signature file"},
        {"signature line not canonical base64",
         [](SignedListInput& in) { in.signature.replace("\n", "\n "); }, "malformed signature file"},
        {"key line cut short", [](SignedListInput& in) { in.keyLine.chop(4); }, "invalid UpdateKey"},
        {"secret key file line as key",
         [](SignedListInput& in) { in.keyLine = dir->read("a.key").split('\n').value(1); }, "invalid UpdateKey"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        SignedListInput in = input();
        c.change(in);
        const SignedListVerdict verdict = checkSignedList(in);
        if (c.reason.isEmpty()) {
            EXPECT_TRUE(verdict.accepted) << verdict.reason.toStdString();
            EXPECT_TRUE(verdict.reason.isEmpty());
            EXPECT_EQ(verdict.sums.digest("\\maps\\a.ivm"), Sha256::hash("map"));
        } else {
            EXPECT_FALSE(verdict.accepted);
            EXPECT_TRUE(verdict.reason.startsWith(c.reason)) << verdict.reason.toStdString();
        }
    }
}

TEST_F(SignedList, ReportsTimestampAndExpiryForTheStamp)
{
    const SignedListVerdict verdict = checkSignedList(input("timestamp:1000 expires:5000"));
    ASSERT_TRUE(verdict.accepted) << verdict.reason.toStdString();
    EXPECT_EQ(verdict.timestamp, 1000);
    EXPECT_EQ(verdict.expires, 5000);
}

TEST(Sha256, MatchesTheSha256sumToolAcrossReadBlocksAndChunking)
{
    TempDir dir;
    QByteArray data(3 * 1024 * 1024 + 7, Qt::Uninitialized);
    for (qsizetype i = 0; i < data.size(); ++i)
        data[i] = char((i * 2654435761u) >> 11);
    const QByteArray emptyDigest = run("sha256sum", {dir.write("empty", {})}).left(64);
    for (const auto& [name, bytes] : {std::pair{QString("big.bin"), data}, std::pair{QString("empty"), QByteArray()}}) {
        const QString path = dir.write(name, bytes);
        const QByteArray expected = run("sha256sum", {path}).left(64);
        EXPECT_EQ(sha256OfFile(path).value_or("none").toHex(), expected) << name.toStdString();

        Sha256 hasher;  // fed in odd chunks, as a download delivers them
        for (qsizetype at = 0; at < bytes.size(); at += 16381)
            hasher.update(QByteArrayView(bytes).sliced(at, std::min<qsizetype>(16381, bytes.size() - at)));
        EXPECT_EQ(hasher.finalHex(), expected);
        EXPECT_EQ(hasher.finalHex(), emptyDigest) << "starts over";
    }
    QString error;
    EXPECT_FALSE(sha256OfFile(dir.filePath("missing"), &error));
    EXPECT_FALSE(error.isEmpty());
}

TEST(Sums, ReadsToolFormatAndNamesTheMalformedLine)
{
    const QByteArray hex(64, 'a');
    const auto parsed = Sums::parse(hex + "  update.txt\r\n" + hex + "  \\a b\\c.dat\n" + hex + "  last");
    ASSERT_TRUE(parsed);
    EXPECT_EQ(parsed->size(), 3);
    EXPECT_EQ(parsed->digest("\\a b\\c.dat"), QByteArray(32, char(0xaa)));
    EXPECT_TRUE(parsed->contains("last"));
    EXPECT_FALSE(parsed->contains("\\A B\\c.dat")) << "names are compared exactly";

    const QByteArray malformed[] = {
        QByteArray(64, 'A') + "  x",      // uppercase
        hex + " x",                       // one space
        hex.left(63) + "  x",             // short hash
        hex + "  ",                       // no name
        hex + " *x",                      // binary-mode marker
        "\n" + hex + "  x",               // empty line
        hex + "  ok",                     // same name twice
    };
    for (const QByteArray& text : malformed) {
        QString error;
        EXPECT_FALSE(Sums::parse(QByteArray(hex + "  ok\n" + text), &error)) << text.toStdString();
        EXPECT_TRUE(error.startsWith("line 2: ")) << error.toStdString();
    }
}

TEST(UpdateStamp, WritesOneLineAndReadsItBackMissingOrDamagedIsNone)
{
    TempDir dir;
    QString problem;
    EXPECT_FALSE(readUpdateStamp(dir.path(), &problem));
    EXPECT_TRUE(problem.isEmpty()) << "missing is not a problem";

    ASSERT_TRUE(writeUpdateStamp(dir.path(), 1700000000));
    ASSERT_TRUE(writeUpdateStamp(dir.path(), 1800000000));
    EXPECT_EQ(dir.read("renewel.stamp"), "1800000000\n");
    EXPECT_EQ(readUpdateStamp(dir.path()), 1800000000);
    dir.write("renewel.stamp", "42\r\n");
    EXPECT_EQ(readUpdateStamp(dir.path()), 42);

    for (const QByteArray damaged : {"", "12a\n", "-5\n", "1\n2\n", "99999999999999999999\n"}) {
        dir.write("renewel.stamp", damaged);
        problem.clear();
        EXPECT_FALSE(readUpdateStamp(dir.path(), &problem)) << damaged.toStdString();
        EXPECT_FALSE(problem.isEmpty());
    }

    QString error;
    EXPECT_FALSE(writeUpdateStamp(dir.filePath("no/such/folder"), 1, &error));
    EXPECT_FALSE(error.isEmpty());
}

}  // namespace
