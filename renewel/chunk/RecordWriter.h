#pragma once
// Writing the chunk store's binary records: little-endian numbers and byte runs appended in order.

#include <QByteArray>
#include <QByteArrayView>

class RecordWriter {
public:
    explicit RecordWriter(qsizetype expectedSize = 0) { bytes_.reserve(expectedSize); }

    void byte(char value) { bytes_.append(value); }
    void u32(quint32 value);
    void u64(quint64 value);
    void append(QByteArrayView bytes) { bytes_.append(bytes); }

    qsizetype size() const { return bytes_.size(); }
    QByteArray take() { return std::move(bytes_); }

private:
    QByteArray bytes_;
};
