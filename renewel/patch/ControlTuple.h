#pragma once
// One step of a suffix diff: take matchLength bytes as old bytes plus the diff stream's bytes,
// then extraLength bytes from the extra stream as they are, then move the old position by seek
// (from the end of the matched old bytes). In the control stream a tuple is three varints
// (7 bits a byte, low bits first), seek zigzag-encoded.

#include <QByteArray>
#include <QtGlobal>

struct ControlTuple {
    quint64 matchLength = 0;
    quint64 extraLength = 0;
    qint64 seek = 0;
};

void appendControl(QByteArray& to, const ControlTuple& tuple);
void appendVarint(QByteArray& to, quint64 value);

// The longest varint: 64 bits at 7 a byte.
constexpr int MaxVarintBytes = 10;
