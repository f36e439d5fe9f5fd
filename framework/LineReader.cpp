#include "LineReader.h"

#include "Exception.h"

#include <cerrno>

namespace {
constexpr char kCtrlZ = 26;
constexpr qint64 kChunk = 64 * 1024;
}  // namespace

LineReader::LineReader(QIODevice& device) : device_(&device) {}

LineReader::LineReader(const QString& fileName) : file_(fileName), device_(&file_)
{
    errno = 0;
    if (!file_.open(QIODevice::ReadOnly)) {
        const int code = file_.exists() ? (errno ? ioErrorFromErrno(errno) : 5) : 2;
        throw EInOutError(code);
    }
}

bool LineReader::fill()
{
    if (pos_ < buffer_.size())
        return true;
    if (eof_)
        return false;
    buffer_.resize(kChunk);
    const qint64 got = device_->read(buffer_.data(), kChunk);
    if (got < 0) {
        buffer_.clear();
        pos_ = 0;
        throw EInOutError(errno ? ioErrorFromErrno(errno) : 5);
    }
    buffer_.resize(got);
    pos_ = 0;
    if (got == 0)
        eof_ = true;
    return got > 0;
}

bool LineReader::atEnd()
{
    if (eof_ && pos_ >= buffer_.size())
        return true;
    if (!fill())
        return true;
    if (buffer_[pos_] == kCtrlZ) {
        // Ctrl+Z at the start of a line ends the file for good.
        eof_ = true;
        buffer_.clear();
        pos_ = 0;
        return true;
    }
    return false;
}

QByteArray LineReader::readLine()
{
    QByteArray line;
    if (atEnd())
        return line;
    while (fill()) {
        // Take the run up to the next CR or LF in one piece.
        const char* begin = buffer_.constData() + pos_;
        const char* end = buffer_.constData() + buffer_.size();
        const char* stop = begin;
        while (stop < end && *stop != '\n' && *stop != '\r')
            ++stop;
        line.append(begin, stop - begin);
        pos_ += stop - begin;
        if (stop == end)
            continue;
        const char c = buffer_[pos_++];
        if (c == '\n')
            return line;
        // CR LF ends the line; a lone CR is dropped.
        if (fill() && buffer_[pos_] == '\n') {
            ++pos_;
            return line;
        }
    }
    return line;
}
