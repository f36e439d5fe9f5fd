#include "patch/ControlReader.h"

#include <algorithm>

Status ControlReader::refill()
{
    const quint64 n = std::min<quint64>(buffer_.size(), stream_.remaining());
    if (n == 0)
        return Status::failure(QStringLiteral("the control stream ends inside a tuple"));
    if (Status read = stream_.read(buffer_.data(), n); !read)
        return read;
    at_ = 0;
    filled_ = size_t(n);
    return {};
}

Result<quint64> ControlReader::varint()
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
    return Result<quint64>::failure(QStringLiteral("a control number is longer than 64 bits"));
}

Result<ControlTuple> ControlReader::next()
{
    ControlTuple t;
    quint64 seek = 0;
    for (quint64* field : {&t.matchLength, &t.extraLength, &seek}) {
        Result<quint64> v = varint();
        if (!v)
            return Result<ControlTuple>::failure(v.error());
        *field = *v;
    }
    t.seek = qint64(seek >> 1) ^ -qint64(seek & 1);
    return t;
}
