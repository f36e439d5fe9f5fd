#pragma once
// The download component's plain rules, apart from the transfer that applies them: which
// failures may pass on another try, how long to wait before it, and how response header lines
// are read.

#include <QByteArray>
#include <QByteArrayView>

#include <optional>

// How a transfer failed, as far as the retry rule cares.
struct Failure {
    int curlCode = 0;     // CURLcode of the transfer
    long httpStatus = 0;  // of the final response; 0 when none arrived
    bool stalled = false;     // too slow, or the headers too late
    bool startOver = false;   // a partial file that can't be continued
    bool local = false;       // our own fault (the file could not be written)
    bool aborted = false;
};

// Refused or reset connections, time-outs, stalls, short bodies, HTTP 5xx and 429 may pass on
// another try; an HTTP 4xx, an abort and a local write error do not.
bool IsTransient(const Failure& failure);

// The pause before try number `retry` (1 for the first repeat): firstDelayMs doubled for each
// later one; a server that names its own pause (Retry-After, in seconds) gets it, up to 30 s.
qint64 RetryDelayMs(int retry, qint64 firstDelayMs, qint64 retryAfterSeconds);

// One response header line: "Name: value" with the name in lower case and both trimmed. A status
// line ("HTTP/1.1 200 OK") starts a new response.
struct HeaderLine {
    bool statusLine = false;
    QByteArray name;
    QByteArray value;
};
HeaderLine ParseHeaderLine(QByteArrayView raw);

// Retry-After in seconds (dates are not used).
std::optional<qint64> ParseRetryAfter(QByteArrayView value);

// Content-Range "bytes START-END/TOTAL"; nothing when it is not of that form or the range does
// not lie within the total.
struct ContentRange {
    qint64 start = -1;
    qint64 total = -1;
    qint64 end = -1;  // the last byte's place
};
std::optional<ContentRange> ParseContentRange(QByteArrayView value);
