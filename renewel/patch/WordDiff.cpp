#include "patch/WordDiff.h"

#include <QtEndian>

void appendWordDiff(QByteArray& to, const uint8_t* updated, const uint8_t* old, qint64 length)
{
    for (qint64 i = 0; i < length;) {
        const uint8_t byte = uint8_t(updated[i] - old[i]);
        if (byte != 0 && length - i >= 4) {
            char word[4];
            qToLittleEndian(quint32(qFromLittleEndian<quint32>(updated + i) - qFromLittleEndian<quint32>(old + i)), word);
            to.append(word, 4);
            i += 4;
        } else {
            to.append(char(byte));
            ++i;
        }
    }
}

void WordDiffDecoder::add(char* diff, const char* old, quint64 length)
{
    for (quint64 i = 0; i < length; ++i, --left_) {
        const uint8_t d = uint8_t(diff[i]);
        if (wordLeft_ == 0 && d != 0 && left_ >= 4) {
            wordLeft_ = 4;
            carry_ = 0;
        }
        const unsigned sum = unsigned(uint8_t(old[i])) + d + (wordLeft_ > 0 ? carry_ : 0);
        diff[i] = char(sum);
        if (wordLeft_ > 0) {
            carry_ = sum >> 8;
            --wordLeft_;
        }
    }
}
