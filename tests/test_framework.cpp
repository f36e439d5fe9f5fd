#include "Application.h"
#include "Exception.h"
#include "FileName.h"
#include "MessageBox.h"
#include "ReportExceptions.h"
#include "SafeText.h"
#include "Text.h"

#include <gtest/gtest.h>

#include <QEventLoop>
#include <QTimer>
#include <stdexcept>

TEST(ErrorReport, AppendsFullStopOnlyAfterCharactersAboveDot)
{
    EXPECT_EQ(errorReportText("File not found"), "File not found.");
    EXPECT_EQ(errorReportText("Done."), "Done.");
    EXPECT_EQ(errorReportText("Wait!"), "Wait!");  // '!' sorts below '.'
    EXPECT_EQ(errorReportText("I/O error 32"), "I/O error 32.");
    EXPECT_EQ(errorReportText(""), "");
}

TEST(ErrorReport, ExceptionInHandlerBecomesStopBoxWithTitle)
{
    TApplication::setTitle("Mapsmith");
    QList<BoxRequest> shown;
    setMessageBoxHandler([&](const BoxRequest& r) { shown << r; return 0; });
    QTimer::singleShot(0, [] { throw EInOutError(2); });
    QCoreApplication::processEvents();
    setMessageBoxHandler(nullptr);
    ASSERT_EQ(shown.size(), 1);
    EXPECT_EQ(shown[0].caption, "Mapsmith");
    EXPECT_EQ(shown[0].text, "File not found.");
    EXPECT_EQ(shown[0].icon, BoxIcon::Stop);
}

TEST(ErrorReport, ReportExceptionsShowsWhateverTheCodeThrowsAndCarriesOn)
{
    QStringList shown;
    setMessageBoxHandler([&](const BoxRequest& r) { shown << r.text; return 0; });
    reportExceptions([] { throw EInOutError(100); });
    reportExceptions([] { throw std::runtime_error("disk gone"); });
    reportExceptions([] { throw 42; });
    bool ran = false;
    reportExceptions([&] { ran = true; });
    setMessageBoxHandler(nullptr);
    EXPECT_TRUE(ran);
    EXPECT_EQ(shown, QStringList({"Read beyond end of file.", "disk gone.", "Unknown error."}));
}

TEST(IoErrors, MessagesAndErrnoMapping)
{
    EXPECT_EQ(ioErrorMessage(ioErrorFromErrno(ENOENT)), "File not found");
    EXPECT_EQ(ioErrorMessage(ioErrorFromErrno(ENOTDIR)), "Invalid filename");
    EXPECT_EQ(ioErrorMessage(ioErrorFromErrno(EMFILE)), "Too many open files");
    EXPECT_EQ(ioErrorMessage(ioErrorFromErrno(EACCES)), "File access denied");
    EXPECT_EQ(ioErrorMessage(100), "Read beyond end of file");
    EXPECT_EQ(ioErrorMessage(32), "I/O error 32");
}

TEST(StrToInt64, AcceptsDecimalAndRejectsEverythingElse)
{
    EXPECT_EQ(StrToInt64("1234"), 1234);
    EXPECT_EQ(StrToInt64("-5"), -5);
    EXPECT_EQ(StrToInt64("  7"), 7);
    EXPECT_EQ(StrToInt64("3000000000"), 3000000000LL);
    for (const char* bad : {"", "12 ", "1x", "abc", "+", "99999999999999999999"}) {
        try {
            StrToInt64(bad);
            ADD_FAILURE() << bad;
        } catch (const EConvertError& e) {
            EXPECT_EQ(e.message(), QString("'%1' is not a valid integer value").arg(bad));
        }
    }
}

// Runs before any other test asks to end: the flag it leaves set would make Run return anyway.
TEST(Terminate, QuitAskedBeforeTheMainLoopIsKeptForIt)
{
    // A slow start-up: the whole update runs, and asks to end, inside a wait during creation.
    bool waitEndedByItself = false;
    {
        QEventLoop startUpWait;
        QTimer::singleShot(0, &startUpWait, [] { TApplication::Terminate(); });
        QTimer::singleShot(100, &startUpWait, [&] {
            waitEndedByItself = true;
            startUpWait.quit();
        });
        startUpWait.exec();
    }
    EXPECT_TRUE(waitEndedByItself) << "the quit cut the start-up wait short";
    QTimer guard;
    guard.setSingleShot(true);
    QObject::connect(&guard, &QTimer::timeout, [] { QCoreApplication::exit(3); });
    guard.start(5000);
    EXPECT_EQ(TApplication::Run(), 0) << "the quit was lost";
}

TEST(Terminate, QuitAskedInsideNestedLoopWaitsForMainLoop)
{
    // A nested loop stands for a download's wait: the quit must neither end it nor get lost.
    bool nestedEndedByItself = false;
    QTimer::singleShot(0, [&] {
        QEventLoop nested;
        TApplication::Terminate();
        QTimer::singleShot(50, &nested, [&] { nestedEndedByItself = true; nested.quit(); });
        nested.exec();
    });
    QTimer guard;
    guard.setSingleShot(true);
    QObject::connect(&guard, &QTimer::timeout, [] { QCoreApplication::exit(3); });
    guard.start(5000);
    EXPECT_EQ(TApplication::Run(), 0);
    EXPECT_TRUE(nestedEndedByItself);
}

TEST(DisplayText, Utf8WhenValidElseWindows1252)
{
    EXPECT_EQ(displayText("Gr\xC3\xBC\xC3\x9F" "e"), QString::fromUtf8("Grüße"));
    EXPECT_EQ(displayText("Gr\xFC\xDF" "e \x80"), QString::fromUtf8("Grüße €"));
}

TEST(FileName, EveryByteSurvivesAndValidUtf8ReadsAsText)
{
    const struct {
        QByteArray bytes;
        QString text;  // empty: not all valid UTF-8, so only the round trip is checked
    } cases[] = {
        {"plain/map.ivm", "plain/map.ivm"},
        {"caf\xc3\xa9 \xf0\x9f\x97\xba.ivm", QString::fromUtf8("caf\xc3\xa9 \xf0\x9f\x97\xba.ivm")},
        {"map\xff.ivm", ""},
        {"\xc0\x80 overlong", ""},
        {"\xed\xa0\x80 surrogate", ""},
        {"cut \xe2\x82", ""},
        {"\xf5\x80\x80\x80 too high", ""},
        {"\xc3\xa9\xff\xc3\xa9", ""},
    };
    for (const auto& c : cases) {
        const QString name = fileNameFromBytes(c.bytes);
        EXPECT_EQ(fileNameBytes(name), c.bytes) << c.bytes.toHex().constData();
        if (!c.text.isEmpty())
            EXPECT_EQ(name, c.text);
        else
            EXPECT_NE(name.toUtf8(), c.bytes);
    }
}

TEST(SafeText, MasksCredentialsAndEscapesLineBreakersAndControls)
{
    const struct {
        const char* name;
        QByteArray in, out;
    } cases[] = {
        {"plain text", "renewel: \\maps\\a.ivm: HTTP 404", "renewel: \\maps\\a.ivm: HTTP 404"},
        {"user and password", "http://user:pw@host/x", "http://***@host/x"},
        {"user only", "https://token@host:8443/", "https://***@host:8443/"},
        {"@ inside the password", "http://u:p@ss@host/a@b", "http://***@host/a@b"},
        {"no path", "(ftp://u:p@host) x", "(ftp://***@host) x"},
        {"two addresses", "http://a:b@h/ and http://c:d@i/", "http://***@h/ and http://***@i/"},
        {"@ only in the path", "http://host/a@b", "http://host/a@b"},
        {"@ after the address", "http://host: mail@example.org", "http://host: mail@example.org"},
        {"no scheme", "://u:p@host", "://u:p@host"},
        {"ESC and BEL", "\\a\x1b[31m\x07.ivm", "\\a\\x1b[31m\\x07.ivm"},
        {"CR LF TAB", "a\r\nb\tc", "a\\r\\nb\\tc"},
        {"NUL and DEL", QByteArray("a\0b\x7f", 4), "a\\x00b\\x7f"},
        {"NEL in UTF-8", "a\xc2\x85" "b", "a\\u0085b"},
        {"other C1 in UTF-8", "\xc2\x80\xc2\x9f", "\\u0080\\u009f"},
        {"line and paragraph separators", "a\xe2\x80\xa8" "b\xe2\x80\xa9", "a\\u2028b\\u2029"},
        {"lone C1 bytes", "a\x85" "b\x9b", "a\\x85b\\x9b"},
        {"Windows-1252 letters pass", "caf\xe9 \xa0", "caf\xe9 \xa0"},
        {"UTF-8 letters pass", "\xc3\xa9t\xc3\xa9 \xe2\x82\xac", "\xc3\xa9t\xc3\xa9 \xe2\x82\xac"},
        {"truncated sequence", "\xe2\x80", "\xe2" "\\x80"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(SafeText(c.in), c.out) << c.name;
        if (c.in.isValidUtf8()) {
            EXPECT_EQ(SafeText(QString::fromUtf8(c.in)), QString::fromUtf8(c.out)) << c.name;
        }
    }
}

TEST(SafeText, EscapingStrayBytesNamesTheExactBytesOfAName)
{
    const struct {
        QByteArray raw;
        QByteArray shown;
    } cases[] = {
        {"maps/forest.ivm", "maps/forest.ivm"},
        {"tab\there", "tab\\there"},
        {"line\nbreak\r", "line\\nbreak\\r"},
        {"esc\x1b bel\x07 del\x7f", "esc\\x1b bel\\x07 del\\x7f"},
        {"latin\xe9", "latin\\xe9"},
        {"\xc3\xa4\xce\xa3", "\xc3\xa4\xce\xa3"},       // valid UTF-8 passes
        {"next\xc2\x85line", "next\\u0085line"},          // a C1 control character
        {"cut\xe2\x82", "cut\\xe2\\x82"},                // a sequence cut short
        {"over\xf5\x80\x80\x80", "over\\xf5\\x80\\x80\\x80"},
        {"a\xe2\x80\xa8" "b", "a\\u2028b"},
        {"http://u:pw@host/x", "http://***@host/x"},
    };
    for (const auto& [raw, shown] : cases) {
        SCOPED_TRACE(shown.toStdString());
        EXPECT_EQ(SafeText(raw, StrayBytes::Escape), shown);
        EXPECT_EQ(SafeText(shown, StrayBytes::Escape), shown) << "escaping twice changes nothing";
    }
}
