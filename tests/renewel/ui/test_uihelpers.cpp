// The window's plain helpers: HTML as CR LF lines, progress scaled into a progress bar's range.

#include "ui/HtmlLines.h"
#include "ui/ProgressScale.h"

#include <gtest/gtest.h>

#include <limits>

TEST(WindowHelpers, HtmlBecomesCrLfLines)
{
    const struct {
        QByteArray in, out;
    } cases[] = {
        {"", ""},
        {"<p>", "<p>\r\n"},
        {"a\r\nb", "a\r\nb\r\n"},
        {"a\rb\nc", "a\r\nb\r\nc\r\n"},
        {"a\n\nb", "a\r\n\r\nb\r\n"},
        {"a\r\n", "a\r\n"},
        {"a\r\r\n", "a\r\n\r\n"},
        {"\n", "\r\n"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(HtmlCrLfLines(c.in), c.out) << c.in.toStdString();
}

TEST(WindowHelpers, ProgressKeepsItsRatioBeyondIntRange)
{
    constexpr qint64 intMax = std::numeric_limits<int>::max();
    const struct {
        qint64 total, readed;
        int max, position;
    } cases[] = {
        {100, 40, 100, 40},
        {intMax, intMax, int(intMax), int(intMax)},
        {1000, 2000, 1000, 1000},  // never past the end
        {0, 0, 0, 0},
    };
    for (const auto& c : cases) {
        const ProgressBarRange r = ScaleProgress(c.total, c.readed);
        EXPECT_EQ(r.max, c.max) << c.total;
        EXPECT_EQ(r.position, c.position) << c.total;
    }
    for (const qint64 total : {intMax + 1, 5'000'000'000LL, 9'000'000'000'000'000'000LL,
                               std::numeric_limits<qint64>::max()}) {
        const ProgressBarRange half = ScaleProgress(total, total / 2);
        EXPECT_GT(half.max, 0);
        EXPECT_NEAR(double(half.position) / half.max, 0.5, 1e-6) << total;
        const ProgressBarRange full = ScaleProgress(total, total);
        EXPECT_EQ(full.position, full.max) << total;
    }
}
