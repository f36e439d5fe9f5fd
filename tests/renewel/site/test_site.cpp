// The update site's formats: the update list, the checksum list, the trusted comment's fields,
// the executable marks, and the names a list may not use.

#include "site/ExecutableMarks.h"
#include "site/SiteFiles.h"
#include "site/Sums.h"
#include "site/TrustedFields.h"
#include "site/UpdateList.h"

#include <gtest/gtest.h>

namespace {

TEST(UpdateList, UpdateListPairsDataLinesAfterTheFirstLine)
{
    const std::vector<std::pair<QByteArray, QList<QByteArray>>> cases = {
        {"only a header\r\n", {}},
        {"", {}},
        {"hdr\r\n\\a.txt\r\n5\r\n", {"\\a.txt", "5"}},
        {"hdr\n\\a\n5", {"\\a", "5"}},
        // an odd last path gets an empty size line
        {"hdr\n\\a\n5\n\\b\n", {"\\a", "5", "\\b", ""}},
        // a trailing empty line makes one more pair of empty lines
        {"hdr\n\\a\n5\n\n", {"\\a", "5", "", ""}},
        // lines are taken exactly: no trimming, a lone CR dropped
        {"hdr\n \\a \n 5\r\n\\b\rc\n7\n", {" \\a ", " 5", "\\bc", "7"}},
        {"hdr\n\\a\n5\n\x1a\\b\n6\n", {"\\a", "5"}},
    };
    for (const auto& [content, expected] : cases) {
        EXPECT_EQ(ReadUpdateListLines(content), expected) << content.toStdString();
    }
}

TEST(UpdateList, FirstProblemInListOrderStopsTheReadingAndWriterRoundTrips)
{
    const struct {
        QByteArray text;
        ListProblem::Kind kind;
        QString subject, reason;
        qsizetype entries;
    } cases[] = {
        {"h\r\n\\a\r\n5\r\n\\b\\c\r\n0\r\n", ListProblem::None, "", "", 2},
        {"h\n\\a\ntwelve\n\\..\\x\n1\n", ListProblem::BadSize, "update.txt", "'twelve' is not a valid integer value", 0},
        {"h\n\\a\n1\n\\..\\x\n1\n", ListProblem::UnsafePath, "\\..\\x", "unsafe path in the update list", 1},
        {"h\n\\a\n1\n", ListProblem::None, "", "", 1},
        {"h\n\\a\n1\n\n", ListProblem::BadSize, "update.txt", "'' is not a valid integer value", 1},
        // one file named twice: either separator, letter case folded in full
        {"h\n\\d\\a\n1\n\\D/A\n1\n", ListProblem::UnsafePath, "\\D/A", "the update list names this file twice", 1},
        {"h\n\\d\\\u00c4\n1\n\\d\\\u00e4\n1\n", ListProblem::UnsafePath, "\\d\\\u00e4", "the update list names this file twice", 1},
        {"h\n\\\u03a3\n1\n\\\u03c3\n1\n", ListProblem::UnsafePath, "\\\u03c3", "the update list names this file twice", 1},
        {"h\n\\\u0414\\x\n1\n\\\u0434/x\n1\n", ListProblem::UnsafePath, "\\\u0434/x", "the update list names this file twice", 1},
        {"h\n\\\uff21\n1\n\\\uff41\n1\n", ListProblem::UnsafePath, "\\\uff41", "the update list names this file twice", 1},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text.toStdString());
        const UpdateListEntries list = UpdateListEntries::parse(c.text);
        EXPECT_EQ(list.problem.kind, c.kind);
        EXPECT_EQ(list.problem.subject, c.subject);
        EXPECT_EQ(list.problem.reason, c.reason);
        EXPECT_EQ(list.entries.size(), c.entries);
    }
    const UpdateListEntries list = UpdateListEntries::parse(cases[0].text);
    EXPECT_EQ(WriteUpdateList("h", list.entries), cases[0].text);
}

TEST(Sums, ReadsToolFormatAndNamesTheMalformedLine)
{
    const QByteArray hex(64, 'a');
    const auto parsed = Sums::parse(hex + "  update.txt\r\n" + hex + "  \\a b\\c.dat\n" + hex + "  last");
    ASSERT_TRUE(parsed);
    EXPECT_EQ(parsed->size(), 3);
    EXPECT_EQ(parsed->digest("\\a b\\c.dat"), QByteArray(32, char(0xaa)));
    EXPECT_TRUE(parsed->contains("last"));
    EXPECT_EQ(parsed->digest("\\A B/C.dat"), QByteArray(32, char(0xaa))) << "a listed path in another spelling";
    EXPECT_FALSE(parsed->contains("LAST")) << "other names are compared exactly";
    EXPECT_FALSE(Sums::parse(hex + "  \\a\\b\n" + hex + "  \\A/B\n")) << "one listed path twice";

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
        const ::Result<::Sums> parsed = Sums::parse(QByteArray(hex + "  ok\n" + text));
        EXPECT_FALSE(parsed) << text.toStdString();
        EXPECT_TRUE(parsed.error().startsWith("line 2: ")) << parsed.error().toStdString();
    }
}

TEST(TrustedFields, WrittenFieldsReadBackAndOthersAreIgnored)
{
    TrustedFields fields;
    fields.timestamp = 1000;
    EXPECT_EQ(fields.format(), "timestamp:1000");
    fields.expires = 5000;
    const ::Result<TrustedFields> read = TrustedFields::parse("release:2\t" + fields.format());
    ASSERT_TRUE(read);
    EXPECT_EQ(read->timestamp, 1000);
    EXPECT_EQ(read->expires, 5000);
    EXPECT_EQ(TrustedFields::parse("expires:1 expires:2").error(), "expires given twice in the trusted comment");
}

// The marks read back from a parsed update.sums; a list without the "x:" line (an older site)
// says nothing of any file.
TEST(ExecutableMarks, MarkedFilesAreExecutableWhereTheSiteNamesThem)
{
    const QByteArray digest(32, '\x5a');
    const QByteArray files = Sums::formatLine(digest, "\\bin\\game.sh") + Sums::formatLine(digest, "\\readme.txt");
    const Result<Sums> marked = Sums::parse(files + ExecutableMarks::lines({{digest, "\\bin\\game.sh"}}));
    const Result<Sums> none = Sums::parse(files + ExecutableMarks::lines({}));
    const Result<Sums> older = Sums::parse(files);
    ASSERT_TRUE(marked && none && older);
    const struct {
        const Sums& sums;
        QByteArray listed;
        std::optional<bool> executable;
    } cases[] = {
        {*marked, "\\bin\\game.sh", true}, {*marked, "\\readme.txt", false},
        {*none, "\\bin\\game.sh", false},  {*older, "\\bin\\game.sh", std::nullopt},
    };
    for (const auto& c : cases)
        EXPECT_EQ(ExecutableMarks::executable(c.sums, c.listed), c.executable) << c.listed.toStdString();
    EXPECT_EQ(marked->digest("\\bin\\game.sh"), digest) << "the file's own line is untouched";
}

TEST(SiteFiles, ListsMayNotNameTheSitesOrTheUpdatersOwnFiles)
{
    for (const QByteArray listed : {"\\update.txt", "\\UPDATE.SUMS", "\\update.sums.minisig", "\\Renewel.Stamp",
                                    "\\renewel.lock", "\\renewel.LNG", "\\renewel.chunks", "\\Renewel.Chunks\\ab",
                                    "\\renewel.chunks/ab", "\\renewel.\u017ftate"})
        EXPECT_TRUE(IsReservedListedPath(listed)) << listed.toStdString();
    for (const QByteArray listed : {"\\data\\update.txt", "\\renewel", "\\renewel.exe", "\\renewel.lng.bak",
                                    "\\data\\renewel.chunks", "\\renewel.chunks2\\ab"})
        EXPECT_FALSE(IsReservedListedPath(listed)) << listed.toStdString();
}

}  // namespace
