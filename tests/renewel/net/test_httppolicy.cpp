// The download component's plain rules: which failures are tried again and after how long, how
// response header lines are read, and how the parts of a range answer are read.

#include "net/HTTPPolicy.h"
#include "net/MultipartRanges.h"

#include <QMap>

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
        {"bytes 9-5/10", -1, -1},
        {"bytes 5-10/10", -1, -1},
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

// Whatever way the body is cut into writes, the same bytes reach the same places; a body that
// breaks off, or whose parts lie outside the resource, is not complete.
TEST(HttpPolicy, MultipartRangesAtEverySplit)
{
    const QByteArray type = "multipart/byteranges; boundary=\"XY\"";
    const QByteArray part1 = "\r\n--XY\r\nContent-Type: application/octet-stream\r\nContent-Range: bytes 20-30/100\r\n\r\n"
                             "ab\r\n--XY\r\nc";  // the boundary inside the data
    const QByteArray part2 = "\r\n--XY\r\nContent-Range: bytes 2-4/100\r\n\r\nzyx";  // before the first
    const QByteArray closing = "\r\n--XY--\r\n";
    const struct {
        const char* name;
        QByteArray body;
        bool complete;
        QMap<qint64, QByteArray> bytes;  // by their place
    } cases[] = {
        {"two parts out of order", part1 + part2 + closing, true, {{20, "ab\r\n--XY\r\nc"}, {2, "zyx"}}},
        {"no leading line end", part1.mid(2) + closing, true, {{20, "ab\r\n--XY\r\nc"}}},
        {"no closing boundary", part1 + part2, false, {{20, "ab\r\n--XY\r\nc"}, {2, "zyx"}}},
        {"cut in a part", part1.left(part1.size() - 3), false, {{20, "ab\r\n--XY"}}},
        {"another resource", part1 + "\r\n--XY\r\nContent-Range: bytes 2-4/99\r\n\r\nzyx" + closing, false,
         {{20, "ab\r\n--XY\r\nc"}}},
        {"a part without its range", part1 + "\r\n--XY\r\n\r\nzyx" + closing, false, {{20, "ab\r\n--XY\r\nc"}}},
        {"another boundary", part1 + "\r\n--XZ\r\n", false, {{20, "ab\r\n--XY\r\nc"}}},
    };
    ASSERT_EQ(MultipartRanges::boundaryOf(type), QByteArray("XY"));
    EXPECT_FALSE(MultipartRanges::boundaryOf("application/octet-stream"));
    for (const auto& c : cases) {
        for (qsizetype split = 0; split <= c.body.size(); ++split) {
            SCOPED_TRACE(std::string(c.name) + " split at " + std::to_string(split));
            MultipartRanges parser(*MultipartRanges::boundaryOf(type), 100);
            QMap<qint64, QByteArray> got;
            qint64 start = -1, next = -1;
            parser.onData = [&](qint64 at, QByteArrayView bytes) {
                if (at != next)
                    start = at;
                got[start] += bytes.toByteArray();
                next = at + bytes.size();
                return true;
            };
            parser.feed(c.body.constData(), split) && parser.feed(c.body.constData() + split, c.body.size() - split);
            EXPECT_EQ(parser.complete(), c.complete);
            EXPECT_EQ(got, c.bytes);
        }
    }
    // A single range reads its bytes, and no more.
    MultipartRanges single = MultipartRanges::singlePart(5, 7, 10);
    QByteArray got;
    single.onData = [&](qint64 at, QByteArrayView bytes) { return at == 5 + got.size() && (got += bytes.toByteArray(), true); };
    EXPECT_TRUE(single.feed("ab", 2) && !single.complete() && single.feed("c", 1) && single.complete());
    EXPECT_FALSE(single.feed("d", 1));
    EXPECT_EQ(got, "abc");
}
