#pragma once
// Reads the body of a 206 answer to a range request as it arrives, in pieces of any size: either
// multipart/byteranges (several ranges, each part with its own Content-Range) or a single range
// whose Content-Range the response carries. Each part's bytes are handed on with their place in
// the whole resource; a part's length comes from its Content-Range, so its bytes may hold
// anything, the boundary too. Parts may come in any order.
//
//   MultipartRanges parser(MultipartRanges::boundaryOf(contentType).value_or(""), total);
//   parser.onData = [](qint64 at, QByteArrayView bytes) { ...; return true; };
//   parser.feed(data, size);  ...  parser.complete();

#include <QByteArray>
#include <QByteArrayView>
#include <QList>
#include <QString>

#include <functional>
#include <optional>

class MultipartRanges {
public:
    // The boundary of a multipart/byteranges Content-Type; nothing for any other type.
    static std::optional<QByteArray> boundaryOf(QByteArrayView contentType);

    // A multipart body with the boundary; total: the resource's length every part must name
    // (-1: any).
    MultipartRanges(QByteArray boundary, qint64 total);
    // A single-range body: the response's own Content-Range.
    static MultipartRanges singlePart(qint64 start, qint64 end, qint64 total);

    // Runs for each piece of a part: at is its place in the resource. False stops the body.
    std::function<bool(qint64 at, QByteArrayView bytes)> onData;

    // False when the body is malformed (error says how) or onData refused it.
    bool feed(const char* data, qint64 size);
    // Whether the body ended where it may: after the closing boundary (the last part's end for a
    // single range).
    bool complete() const { return state_ == State::Done; }
    const QString& error() const { return error_; }

private:
    enum class State { Delimiter, AfterDelimiter, Headers, Data, Done, Failed };
    bool fail(const QString& why);
    bool line(QByteArrayView text);  // a header line of a part (without its CRLF)
    qsizetype delimiter(const char* data, qsizetype size);
    qsizetype afterDelimiter(const char* data, qsizetype size);
    qsizetype headers(const char* data, qsizetype size);
    qsizetype partData(const char* data, qsizetype size);

    QByteArray delimiter_;  // "\r\n--" boundary
    qint64 total_ = -1;
    bool single_ = false;
    State state_ = State::Delimiter;
    QByteArray pending_;    // bytes of a delimiter or header line being matched
    qsizetype headerBytes_ = 0;  // of the part's header lines so far
    qint64 at_ = -1, end_ = -1;  // of the part: where its next byte goes, where it ends (past)
    bool first_ = true;     // no delimiter seen yet: the body may start without its CRLF
    QString error_;
};
