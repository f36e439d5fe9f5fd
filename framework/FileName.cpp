#include "FileName.h"

namespace {

constexpr char16_t EscapeBase = 0xDC00;  // byte b (0x80 ... 0xFF) is kept as U+DC00 + b

// Length of the valid UTF-8 sequence at data[i] (2 to 4 bytes), or 0 when it is not one:
// truncated, a wrong continuation, overlong, a surrogate or above U+10FFFF.
int sequenceLength(const unsigned char* data, qsizetype i, qsizetype size)
{
    const unsigned char lead = data[i];
    int length;
    char32_t code;
    if (lead >= 0xC2 && lead <= 0xDF) {
        length = 2;
        code = lead & 0x1F;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        length = 3;
        code = lead & 0x0F;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        length = 4;
        code = lead & 0x07;
    } else {
        return 0;
    }
    if (size - i < length)
        return 0;
    for (int k = 1; k < length; ++k) {
        if ((data[i + k] & 0xC0) != 0x80)
            return 0;
        code = (code << 6) | (data[i + k] & 0x3F);
    }
    if ((length == 3 && code < 0x800) || (length == 4 && code < 0x10000) || code > 0x10FFFF
        || (code >= 0xD800 && code <= 0xDFFF))
        return 0;
    return length;
}

} // namespace

QString fileNameFromBytes(const QByteArray& bytes)
{
    const auto* data = reinterpret_cast<const unsigned char*>(bytes.constData());
    const qsizetype size = bytes.size();
    QString name;
    name.reserve(size);
    qsizetype i = 0;
    while (i < size) {
        // Runs of valid UTF-8 are decoded by Qt; only the stray bytes between them are escaped.
        const qsizetype start = i;
        while (i < size) {
            if (data[i] < 0x80) {
                ++i;
                continue;
            }
            const int length = sequenceLength(data, i, size);
            if (length == 0)
                break;
            i += length;
        }
        name += QString::fromUtf8(bytes.constData() + start, i - start);
        if (i < size)
            name += QChar(char16_t(EscapeBase + data[i++]));
    }
    return name;
}

QByteArray fileNameBytes(const QString& name)
{
    QByteArray bytes;
    bytes.reserve(name.size());
    qsizetype start = 0;
    for (qsizetype i = 0; i < name.size(); ++i) {
        const char16_t unit = name.at(i).unicode();
        const bool lowSurrogate = unit >= 0xDC00 && unit <= 0xDFFF;
        const bool paired = i > 0 && name.at(i - 1).isHighSurrogate();
        if (unit < EscapeBase + 0x80 || unit > EscapeBase + 0xFF || !lowSurrogate || paired)
            continue;
        bytes += QStringView(name).mid(start, i - start).toUtf8();
        bytes += char(unit - EscapeBase);
        start = i + 1;
    }
    bytes += QStringView(name).mid(start).toUtf8();
    return bytes;
}
