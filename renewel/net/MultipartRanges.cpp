#include "net/MultipartRanges.h"

#include "net/HTTPPolicy.h"

namespace {
// A part's header lines together, and the padding after a delimiter: more is no answer to ours.
constexpr qsizetype MaxHeaderBytes = 8192;
constexpr qsizetype MaxPadding = 64;
}  // namespace

std::optional<QByteArray> MultipartRanges::boundaryOf(QByteArrayView contentType)
{
    const QByteArray type = contentType.toByteArray();
    const qsizetype semicolon = type.indexOf(';');
    if (type.left(semicolon).trimmed().toLower() != "multipart/byteranges")
        return std::nullopt;
    for (const QByteArray& parameter : type.mid(semicolon + 1).split(';')) {
        const qsizetype equals = parameter.indexOf('=');
        if (equals < 0 || parameter.left(equals).trimmed().toLower() != "boundary")
            continue;
        QByteArray boundary = parameter.mid(equals + 1).trimmed();
        if (boundary.size() >= 2 && boundary.startsWith('"') && boundary.endsWith('"'))
            boundary = boundary.mid(1, boundary.size() - 2);
        if (boundary.isEmpty() || boundary.size() > 70)
            return std::nullopt;
        return boundary;
    }
    return std::nullopt;
}

MultipartRanges::MultipartRanges(QByteArray boundary, qint64 total)
    : delimiter_("\r\n--" + boundary), total_(total)
{
}

MultipartRanges MultipartRanges::singlePart(qint64 start, qint64 end, qint64 total)
{
    MultipartRanges parser({}, total);
    parser.single_ = true;
    parser.state_ = State::Data;
    parser.at_ = start;
    parser.end_ = end + 1;
    return parser;
}

bool MultipartRanges::fail(const QString& why)
{
    if (state_ != State::Failed)
        error_ = why;
    state_ = State::Failed;
    return false;
}

bool MultipartRanges::feed(const char* data, qint64 size)
{
    while (size > 0) {
        qsizetype used = 0;
        switch (state_) {
        case State::Delimiter: used = delimiter(data, qsizetype(size)); break;
        case State::AfterDelimiter: used = afterDelimiter(data, qsizetype(size)); break;
        case State::Headers: used = headers(data, qsizetype(size)); break;
        case State::Data: used = partData(data, qsizetype(size)); break;
        case State::Done:
            // After the closing delimiter comes an epilogue nobody reads; after a single range,
            // nothing may.
            return single_ ? fail(QStringLiteral("more bytes than the range")) : true;
        case State::Failed: return false;
        }
        if (used < 0)
            return false;
        data += used;
        size -= used;
    }
    return state_ != State::Failed;
}

// The delimiter before a part (or the closing one), matched a byte at a time; the body may begin
// with it without its leading CRLF.
qsizetype MultipartRanges::delimiter(const char* data, qsizetype size)
{
    qsizetype used = 0;
    while (used < size) {
        pending_.append(data[used++]);
        const QByteArrayView expected = first_ && pending_.startsWith('-') ? QByteArrayView(delimiter_).sliced(2)
                                                                           : QByteArrayView(delimiter_);
        if (!expected.startsWith(pending_))
            return fail(QStringLiteral("no boundary where a part should begin")), -1;
        if (pending_.size() == expected.size()) {
            pending_.clear();
            first_ = false;
            state_ = State::AfterDelimiter;
            break;
        }
    }
    return used;
}

// "--" closes the body; otherwise optional padding and a CRLF begin a part's headers.
qsizetype MultipartRanges::afterDelimiter(const char* data, qsizetype size)
{
    qsizetype used = 0;
    while (used < size) {
        pending_.append(data[used++]);
        if (pending_ == "--") {
            state_ = State::Done;
            pending_.clear();
            break;
        }
        if (pending_.endsWith("\r\n")) {
            if (!pending_.chopped(2).trimmed().isEmpty())
                return fail(QStringLiteral("no line end after a boundary")), -1;
            pending_.clear();
            at_ = end_ = -1;
            state_ = State::Headers;
            break;
        }
        if (pending_.size() > MaxPadding || (pending_ != "-" && !pending_.startsWith(' ') && !pending_.startsWith('\t') &&
                                             !pending_.startsWith('\r')))
            return fail(QStringLiteral("no line end after a boundary")), -1;
    }
    return used;
}

// Header lines up to the empty one; only Content-Range matters.
qsizetype MultipartRanges::headers(const char* data, qsizetype size)
{
    const qsizetype newline = QByteArrayView(data, size).indexOf('\n');
    const qsizetype used = newline < 0 ? size : newline + 1;
    pending_.append(data, used);
    if (pending_.size() > MaxHeaderBytes)
        return fail(QStringLiteral("a part's headers are too long")), -1;
    if (newline < 0)
        return used;
    QByteArrayView text(pending_);
    text.chop(text.endsWith("\r\n") ? 2 : 1);
    if (!text.isEmpty()) {
        if (!line(text))
            return -1;
        // Lines are kept together only to bound them: the next one starts after this one.
        pending_.remove(0, pending_.size());
        headerBytes_ += used;
        if (headerBytes_ > MaxHeaderBytes)
            return fail(QStringLiteral("a part's headers are too long")), -1;
        return used;
    }
    pending_.clear();
    headerBytes_ = 0;
    if (at_ < 0)
        return fail(QStringLiteral("a part without a Content-Range")), -1;
    state_ = State::Data;
    return used;
}

bool MultipartRanges::line(QByteArrayView text)
{
    const qsizetype colon = text.indexOf(':');
    if (colon <= 0 || text.first(colon).trimmed().toByteArray().toLower() != "content-range")
        return true;
    const std::optional<ContentRange> range = ParseContentRange(text.sliced(colon + 1).trimmed());
    if (!range || (total_ >= 0 && range->total != total_))
        return fail(QStringLiteral("a part's Content-Range is not within the resource")), false;
    at_ = range->start;
    end_ = range->end + 1;
    return true;
}

qsizetype MultipartRanges::partData(const char* data, qsizetype size)
{
    const qsizetype used = qsizetype(std::min<qint64>(size, end_ - at_));
    if (onData && !onData(at_, QByteArrayView(data, used)))
        return fail(QStringLiteral("refused")), -1;
    at_ += used;
    if (at_ == end_)
        state_ = single_ ? State::Done : State::Delimiter;
    return used;
}
