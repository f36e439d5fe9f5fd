#include "common/ShownText.h"

#include <QString>

namespace {

// The length of the UTF-8 sequence a lead byte starts; 0 for a byte that starts none.
int sequenceLength(unsigned char lead)
{
    if (lead >= 0xC2 && lead <= 0xDF)
        return 2;
    if (lead >= 0xE0 && lead <= 0xEF)
        return 3;
    if (lead >= 0xF0 && lead <= 0xF4)
        return 4;
    return 0;
}

void appendHex(QByteArray& out, const char* prefix, uint value, int digits)
{
    out += prefix;
    out += QByteArray::number(value, 16).rightJustified(digits, '0');
}

}  // namespace

QByteArray shownText(QByteArrayView bytes)
{
    QByteArray out;
    for (qsizetype i = 0; i < bytes.size();) {
        const auto byte = static_cast<unsigned char>(bytes[i]);
        if (byte < 0x80) {
            if (byte == '\r')
                out += "\\r";
            else if (byte == '\n')
                out += "\\n";
            else if (byte == '\t')
                out += "\\t";
            else if (byte < 0x20 || byte == 0x7F)
                appendHex(out, "\\x", byte, 2);
            else
                out += char(byte);
            ++i;
            continue;
        }
        const int length = sequenceLength(byte);
        const QByteArray sequence = bytes.sliced(i, qMin<qsizetype>(length, bytes.size() - i)).toByteArray();
        if (length == 0 || sequence.size() != length || !sequence.isValidUtf8()) {
            appendHex(out, "\\x", byte, 2);
            ++i;
            continue;
        }
        const QString decoded = QString::fromUtf8(sequence);
        if (decoded.size() == 1 && decoded.at(0).category() == QChar::Other_Control)
            appendHex(out, "\\u", decoded.at(0).unicode(), 4);
        else
            out += sequence;
        i += length;
    }
    return out;
}
