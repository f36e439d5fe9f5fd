// Signed update lists: keys and signatures made by the real minisign tool (both algorithms),
// checked by the manifest library; SHA-256 against the sha256sum tool; update.sums lines;
// renewel.stamp.

#include "trust/Manifest.h"
#include "trust/Minisign.h"
#include "trust/Sha256.h"
#include "ProcessRun.h"
#include "TempDir.h"
#include "trust/UpdateStamp.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFileInfo>

#include <sys/stat.h>

#include <functional>

namespace {

QByteArray run(const QString& program, const QStringList& args)
{
    const ProcessRun run = runProcess(program, args, 30000);
    EXPECT_EQ(run.exitCode, 0) << program.toStdString() << ": " << run.err.toStdString();
    return run.out;
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
        const ::Result<::SignedList> verdict = checkSignedList(in);
        if (c.reason.isEmpty()) {
            ASSERT_TRUE(verdict) << verdict.error().toStdString();
            EXPECT_EQ(verdict->sums.digest("\\maps\\a.ivm"), Sha256::hash("map"));
            EXPECT_TRUE(checkListed(verdict->sums, {"\\data\\units.dat", "\\maps\\a.ivm"}));
            EXPECT_EQ(checkListed(verdict->sums, {"\\data\\x.dat"}).error(), "no checksum for \\data\\x.dat");
        } else {
            EXPECT_FALSE(verdict);
            EXPECT_TRUE(verdict.error().startsWith(c.reason)) << verdict.error().toStdString();
        }
    }
}

TEST_F(SignedList, ReportsTimestampAndExpiryForTheStamp)
{
    const ::Result<::SignedList> verdict = checkSignedList(input("timestamp:1000 expires:5000"));
    ASSERT_TRUE(verdict) << verdict.error().toStdString();
    EXPECT_EQ(verdict->timestamp, 1000);
    EXPECT_EQ(verdict->expires, 5000);
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
    EXPECT_EQ(sha256OfFile(dir.filePath("missing")).error(), "No such file or directory");
}

// Only a missing stamp means "no list accepted yet"; anything else unreadable is a failure, so
// replay protection is never silently off.
TEST(UpdateStamp, WritesOneLineAndReadsItBackAnythingButMissingIsAFailure)
{
    TempDir dir;
    const auto read = readUpdateStamp(dir.path());
    ASSERT_TRUE(read);
    EXPECT_FALSE(read.value().has_value());

    ASSERT_TRUE(writeUpdateStamp(dir.path(), 1700000000));
    ASSERT_TRUE(writeUpdateStamp(dir.path(), 1800000000));
    EXPECT_EQ(dir.read("renewel.stamp"), "1800000000\n");
    EXPECT_EQ(readUpdateStamp(dir.path()).value(), 1800000000);
    dir.write("renewel.stamp", "42\r\n");
    EXPECT_EQ(readUpdateStamp(dir.path()).value(), 42);

    for (const QByteArray damaged : {"", "12a\n", "-5\n", "1\n2\n", "99999999999999999999\n"}) {
        dir.write("renewel.stamp", damaged);
        const auto bad = readUpdateStamp(dir.path());
        EXPECT_FALSE(bad) << damaged.toStdString();
        EXPECT_TRUE(bad.error().startsWith("renewel.stamp: ")) << bad.error().toStdString();
    }
    QFile::remove(dir.filePath("renewel.stamp"));
    ASSERT_TRUE(QDir().mkdir(dir.filePath("renewel.stamp")));
    EXPECT_FALSE(readUpdateStamp(dir.path()));
    ASSERT_TRUE(QDir().rmdir(dir.filePath("renewel.stamp")));
    ASSERT_EQ(::mkfifo(QFile::encodeName(dir.filePath("renewel.stamp")).constData(), 0600), 0);
    EXPECT_EQ(readUpdateStamp(dir.path()).error(), "renewel.stamp: not a regular file") << "and no hang";
    QFile::remove(dir.filePath("renewel.stamp"));

    // Written through a link, the link is replaced and its target left alone.
    const QString target = dir.write("elsewhere", "keep");
    ASSERT_TRUE(QFile::link(target, dir.filePath("renewel.stamp")));
    EXPECT_EQ(readUpdateStamp(dir.path()).error(), "renewel.stamp: a link, not a stamp");
    ASSERT_TRUE(writeUpdateStamp(dir.path(), 7));
    EXPECT_EQ(dir.read("elsewhere"), "keep");
    EXPECT_FALSE(QFileInfo(dir.filePath("renewel.stamp")).isSymLink());

    EXPECT_EQ(writeUpdateStamp(dir.filePath("no/such/folder"), 1).error(), "No such file or directory");
}

}  // namespace
