#include "chunk/RecordReader.h"

#include <QtEndian>

const char* RecordReader::next(qsizetype count)
{
    if (!ok_ || count < 0 || count > remaining()) {
        ok_ = false;
        return nullptr;
    }
    const char* at = bytes_.data() + at_;
    at_ += count;
    return at;
}

bool RecordReader::expect(QByteArrayView magic)
{
    if (!ok_ || !bytes_.sliced(at_).startsWith(magic))
        return false;
    at_ += magic.size();
    return true;
}

char RecordReader::byte()
{
    const char* at = next(1);
    return at ? *at : '\0';
}

quint32 RecordReader::u32()
{
    const char* at = next(4);
    return at ? qFromLittleEndian<quint32>(at) : 0;
}

quint64 RecordReader::u64()
{
    const char* at = next(8);
    return at ? qFromLittleEndian<quint64>(at) : 0;
}

QByteArrayView RecordReader::take(qsizetype count)
{
    const char* at = next(count);
    return at ? QByteArrayView(at, count) : QByteArrayView();
}
