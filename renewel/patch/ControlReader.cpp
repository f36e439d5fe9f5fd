#include "patch/ControlReader.h"

Result<ControlTuple> ControlReader::next()
{
    ControlTuple t;
    quint64 seek = 0;
    for (quint64* field : {&t.matchLength, &t.extraLength, &seek}) {
        Result<quint64> v = numbers_.next();
        if (!v)
            return Result<ControlTuple>::failure(v.error());
        *field = *v;
    }
    t.seek = qint64(seek >> 1) ^ -qint64(seek & 1);
    return t;
}
