#include "chunk/RecordWriter.h"

#include <QtEndian>

void RecordWriter::u32(quint32 value)
{
    char le[4];
    qToLittleEndian(value, le);
    bytes_.append(le, 4);
}

void RecordWriter::u64(quint64 value)
{
    char le[8];
    qToLittleEndian(value, le);
    bytes_.append(le, 8);
}
