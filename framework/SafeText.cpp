#include "SafeText.h"

namespace {

bool isSchemeChar(char c)
{
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '+' || c == '-' ||
           c == '.';
}

// Where an address's authority ends: its path, query or fragment, or the text around it.
bool endsAuthority(char c)
{
    return c == '/' || c == '?' || c == '#' || c == '"' || c == '\'' || c == '<' || c == '>' ||
           static_cast<unsigned char>(c) <= 0x20;
}

// "scheme://userinfo@host" becomes "scheme://***@host"; the last '@' before the host counts, so a
// password holding an unescaped '@' is masked whole.
QByteArray maskCredentials(QByteArrayView in)
{
    QByteArray out;
    qsizetype from = 0;
    for (qsizetype sep = in.indexOf("://"); sep >= 0; sep = in.indexOf("://", from)) {
        const qsizetype start = sep + 3;
        qsizetype end = start;
        while (end < in.size() && !endsAuthority(in[end]))
            ++end;
        const qsizetype at = in.sliced(start, end - start).lastIndexOf('@');
        const bool scheme = sep > 0 && isSchemeChar(in[sep - 1]);
        out += in.sliced(from, start - from);
        if (scheme && at >= 0) {
            out += "***";
            from = start + at;
        } else {
            from = start;
        }
    }
    out += in.sliced(from);
    return out;
}

void appendHex(QByteArray& out, const char* prefix, uint value, int digits)
{
    out += prefix;
    out += QByteArray::number(value, 16).rightJustified(digits, '0');
}

void appendAscii(QByteArray& out, unsigned char byte)
{
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
}

// The length of the well-formed UTF-8 sequence at i with its code point, or 0 for a byte that
// starts none.
int utf8Sequence(QByteArrayView in, qsizetype i, char32_t& code)
{
    const auto lead = static_cast<unsigned char>(in[i]);
    const int length = lead >= 0xC2 && lead <= 0xDF   ? 2
                       : lead >= 0xE0 && lead <= 0xEF ? 3
                       : lead >= 0xF0 && lead <= 0xF4 ? 4
                                                      : 0;
    if (length == 0 || i + length > in.size() || !in.sliced(i, length).toByteArray().isValidUtf8())
        return 0;
    code = lead & (0xFF >> (length + 1));
    for (int k = 1; k < length; ++k)
        code = (code << 6) | (static_cast<unsigned char>(in[i + k]) & 0x3F);
    return length;
}

QByteArray escapeControls(QByteArrayView in, StrayBytes stray)
{
    QByteArray out;
    out.reserve(in.size());
    for (qsizetype i = 0; i < in.size();) {
        const auto byte = static_cast<unsigned char>(in[i]);
        if (byte < 0x80) {
            appendAscii(out, byte);
            ++i;
            continue;
        }
        char32_t code = 0;
        const int length = utf8Sequence(in, i, code);
        if (length == 0) {
            if (byte <= 0x9F || stray == StrayBytes::Escape)  // <= 0x9F: a C1 control to a Latin-1 reader
                appendHex(out, "\\x", byte, 2);
            else
                out += char(byte);
            ++i;
        } else {
            if (code <= 0x9F || code == 0x2028 || code == 0x2029)
                appendHex(out, "\\u", uint(code), 4);
            else
                out += in.sliced(i, length);
            i += length;
        }
    }
    return out;
}

}  // namespace

QByteArray SafeText(const QByteArray& bytes, StrayBytes stray)
{
    return escapeControls(maskCredentials(bytes), stray);
}

QString SafeText(const QString& text) { return QString::fromUtf8(SafeText(text.toUtf8())); }
