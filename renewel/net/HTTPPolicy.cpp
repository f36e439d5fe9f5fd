#include "net/HTTPPolicy.h"

#include "Digits.h"

#include <curl/curl.h>

#include <algorithm>

bool IsTransient(const Failure& f)
{
    if (f.aborted || f.local)
        return false;
    if (f.startOver || f.stalled || f.httpStatus >= 500 || f.httpStatus == 429)
        return true;
    if (f.httpStatus >= 400)
        return false;
    switch (f.curlCode) {
    case CURLE_COULDNT_CONNECT:
    case CURLE_RECV_ERROR:
    case CURLE_SEND_ERROR:
    case CURLE_OPERATION_TIMEDOUT:
    case CURLE_PARTIAL_FILE:
    case CURLE_GOT_NOTHING:
        return true;
    default:
        return false;
    }
}

qint64 RetryDelayMs(int retry, qint64 firstDelayMs, qint64 retryAfterSeconds)
{
    if (retryAfterSeconds >= 0)
        return std::min<qint64>(retryAfterSeconds, 30) * 1000;
    return firstDelayMs << std::clamp(retry - 1, 0, 20);
}

HeaderLine ParseHeaderLine(QByteArrayView raw)
{
    const QByteArray line = raw.toByteArray().trimmed();
    HeaderLine header;
    if (line.startsWith("HTTP/")) {
        header.statusLine = true;
        return header;
    }
    const qsizetype colon = line.indexOf(':');
    if (colon <= 0)
        return header;
    header.name = line.left(colon).trimmed().toLower();
    header.value = line.mid(colon + 1).trimmed();
    return header;
}

std::optional<qint64> ParseRetryAfter(QByteArrayView value) { return parseDigits(value); }

std::optional<ContentRange> ParseContentRange(QByteArrayView value)
{
    if (!value.startsWith("bytes "))
        return std::nullopt;
    const QByteArrayView range = value.sliced(6);
    const qsizetype dash = range.indexOf('-'), slash = range.indexOf('/');
    if (dash <= 0 || slash <= dash)
        return std::nullopt;
    const std::optional<qint64> start = parseDigits(range.first(dash));
    const std::optional<qint64> end = parseDigits(range.sliced(dash + 1, slash - dash - 1));
    const std::optional<qint64> total = parseDigits(range.sliced(slash + 1));
    if (!start || !end || !total || *end < *start || *end >= *total)
        return std::nullopt;
    return ContentRange{*start, *total, *end};
}
