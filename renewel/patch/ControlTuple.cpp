#include "patch/ControlTuple.h"

void appendVarint(QByteArray& to, quint64 value)
{
    while (value >= 0x80) {
        to.append(char(0x80 | (value & 0x7f)));
        value >>= 7;
    }
    to.append(char(value));
}

void appendControl(QByteArray& to, const ControlTuple& tuple)
{
    appendVarint(to, tuple.matchLength);
    appendVarint(to, tuple.extraLength);
    appendVarint(to, (quint64(tuple.seek) << 1) ^ quint64(tuple.seek >> 63));
}
