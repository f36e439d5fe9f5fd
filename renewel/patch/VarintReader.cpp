#include "patch/VarintReader.h"

#include "patch/ControlTuple.h"

#include <algorithm>

Status VarintReader::refill()
{
    const quint64 n = std::min<quint64>(buffer_.size(), stream_.remaining());
    if (n == 0)
        return Status::failure(QStringLiteral("a stream of numbers ends inside a number"));
    if (Status read = stream_.read(buffer_.data(), n); !read)
        return read;
    at_ = 0;
    filled_ = size_t(n);
    return {};
}

Result<quint64> VarintReader::next()
{
    quint64 value = 0;
    for (int i = 0; i < MaxVarintBytes; ++i) {
        if (at_ == filled_) {
            if (Status s = refill(); !s)
                return Result<quint64>::failure(s.error());
        }
        const quint8 byte = quint8(buffer_[at_++]);
        if (i == MaxVarintBytes - 1 && byte > 1)
            break;
        value |= quint64(byte & 0x7f) << (7 * i);
        if (!(byte & 0x80))
            return value;
    }
    return Result<quint64>::failure(QStringLiteral("a number is longer than 64 bits"));
}
