#include "Application.h"
#include "Exception.h"
#include "FileName.h"
#include "MessageBox.h"
#include "ReportExceptions.h"
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
