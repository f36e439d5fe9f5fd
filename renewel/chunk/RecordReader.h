#pragma once
// Reading the chunk store's binary records (.cidx, .cidd, kept lists): little-endian numbers and
// byte runs taken in order from a span, every read checked against its end. A read past the end
// yields zero or nothing and leaves the reader failed, so a record is parsed as a sequence of
// reads and checked once with ok().

#include <QByteArrayView>
#include <QtGlobal>

class RecordReader {
public:
    explicit RecordReader(QByteArrayView bytes) : bytes_(bytes) {}

    // Takes magic when the record starts with it (at the current position); false otherwise.
    bool expect(QByteArrayView magic);
    char byte();
    quint32 u32();
    quint64 u64();
    QByteArrayView take(qsizetype count);

    bool ok() const { return ok_; }
    qsizetype position() const { return at_; }
    qsizetype remaining() const { return bytes_.size() - at_; }
    bool atEnd() const { return at_ == bytes_.size(); }

private:
    // The next count bytes, or nullptr (failing the reader) when fewer remain.
    const char* next(qsizetype count);

    QByteArrayView bytes_;
    qsizetype at_ = 0;
    bool ok_ = true;
};
