// The download component's plain rules: which failures are tried again and after how long, and
// how response header lines are read.

#include "net/HTTPPolicy.h"

#include <gtest/gtest.h>

#include <curl/curl.h>

TEST(HttpPolicy, TransientFailures)
{
    const struct {
        Failure failure;
        bool transient;
    } cases[] = {
        {{CURLE_COULDNT_CONNECT}, true},
        {{CURLE_RECV_ERROR}, true},
        {{CURLE_PARTIAL_FILE}, true},
        {{CURLE_OPERATION_TIMEDOUT}, true},
        {{CURLE_OK, 503}, true},
        {{CURLE_OK, 429}, true},
        {{CURLE_OK, 404}, false},
        {{CURLE_COULDNT_CONNECT, 404}, false},  // a 4xx decides
        {{CURLE_OK, 0, true}, true},             // stalled
        {{CURLE_OK, 200, false, true}, true},    // a partial file to start over
        {{CURLE_OK, 503, false, false, true}, false},    // our own write failed
        {{CURLE_RECV_ERROR, 0, false, false, false, true}, false},  // aborted
        {{CURLE_SSL_CACERT_BADFILE}, false},
    };
    for (const auto& c : cases)
        EXPECT_EQ(IsTransient(c.failure), c.transient) << c.failure.curlCode << " " << c.failure.httpStatus;
}

TEST(HttpPolicy, RetryDelaysDoubleUnlessTheServerNamesOne)
{
    EXPECT_EQ(RetryDelayMs(1, 1000, -1), 1000);
    EXPECT_EQ(RetryDelayMs(2, 1000, -1), 2000);
    EXPECT_EQ(RetryDelayMs(3, 1000, -1), 4000);
    EXPECT_EQ(RetryDelayMs(1, 1000, 7), 7000);
    EXPECT_EQ(RetryDelayMs(1, 1000, 0), 0);
    EXPECT_EQ(RetryDelayMs(1, 1000, 3600), 30000);
}

TEST(HttpPolicy, HeaderLines)
{
    EXPECT_TRUE(ParseHeaderLine("HTTP/1.1 206 Partial Content\r\n").statusLine);
    const HeaderLine h = ParseHeaderLine("Content-Range :  bytes 5-9/10 \r\n");
    EXPECT_EQ(h.name, "content-range");
    EXPECT_EQ(h.value, "bytes 5-9/10");
    EXPECT_TRUE(ParseHeaderLine("\r\n").name.isEmpty());
    EXPECT_TRUE(ParseHeaderLine(": no name\r\n").name.isEmpty());

    EXPECT_EQ(ParseRetryAfter("120"), 120);
    EXPECT_FALSE(ParseRetryAfter("Wed, 21 Oct 2015 07:28:00 GMT"));
    EXPECT_FALSE(ParseRetryAfter("-1"));

    const struct {
        QByteArray value;
        qint64 start, total;
    } ranges[] = {
        {"bytes 5-9/10", 5, 10},
        {"bytes 0-0/1", 0, 1},
        {"bytes 5-9/*", -1, -1},
        {"bytes -5-9/10", -1, -1},
        {"items 5-9/10", -1, -1},
        {"bytes 59/10", -1, -1},
    };
    for (const auto& r : ranges) {
        const ContentRange got = ParseContentRange(r.value).value_or(ContentRange{});
        EXPECT_EQ(got.start, r.start) << r.value.toStdString();
        EXPECT_EQ(got.total, r.total) << r.value.toStdString();
    }
}
