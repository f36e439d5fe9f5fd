#include "ui/HtmlLines.h"

QByteArray HtmlCrLfLines(const QByteArray& html)
{
    QByteArray bytes;
    bytes.reserve(html.size() + html.size() / 16 + 2);
    qsizetype start = 0;
    const qsizetype n = html.size();
    while (start < n) {
        qsizetype end = start;
        while (end < n && html[end] != '\r' && html[end] != '\n')
            ++end;
        bytes.append(html.constData() + start, end - start);
        bytes.append("\r\n");
        if (end < n && html[end] == '\r' && end + 1 < n && html[end + 1] == '\n')
            ++end;
        start = end + 1;
    }
    return bytes;
}
