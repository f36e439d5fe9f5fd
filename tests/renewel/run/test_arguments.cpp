// renewel's command line: which argument selects quiet mode.

#include "run/Arguments.h"

#include <gtest/gtest.h>

TEST(Arguments, QuietModeOnlyForExactFirstArgument)
{
    const struct {
        QStringList args;
        bool quiet;
    } cases[] = {
        {{"renewel"}, false},
        {{"renewel", "quiet"}, true},
        {{"renewel", "quiet", "more"}, true},
        {{"renewel", "Quiet"}, false},
        {{"renewel", "/quiet"}, false},
        {{"renewel", "quiet "}, false},
        {{"renewel", "x", "quiet"}, false},
    };
    for (const auto& c : cases)
        EXPECT_EQ(QuietArgument(c.args), c.quiet) << c.args.join(' ').toStdString();
}
