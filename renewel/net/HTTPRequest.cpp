#include "net/HTTPRequest.h"

namespace {
QByteArray escapePath(const QByteArray& path)
{
    static const char hex[] = "0123456789ABCDEF";
    QByteArray out;
    out.reserve(path.size());
    for (const char ch : path) {
        const auto c = static_cast<unsigned char>(ch);
        if (c <= 0x20 || c >= 0x7F || QByteArray("\"<>\\^`{|}").contains(ch)) {
            out += '%';
            out += hex[c >> 4];
            out += hex[c & 15];
        } else {
            out += ch;
        }
    }
    return out;
}
}  // namespace

HTTPUrl SplitUrl(const QString& URL)
{
    HTTPUrl u;
    QString rest = URL;
    if (rest.startsWith(QLatin1String("http://"), Qt::CaseInsensitive)) {
        rest.remove(0, 7);
    } else if (rest.startsWith(QLatin1String("https://"), Qt::CaseInsensitive)) {
        rest.remove(0, 8);
        u.Https = true;
        u.Port = 443;
    }
    const qsizetype slash = rest.indexOf('/');
    if (slash < 0) {
        u.ObjectPath = rest;
        return u;  // no host
    }
    QString host = rest.left(slash);
    u.ObjectPath = rest.mid(slash);
    // A port follows the last ":" that is not inside an IPv6 "[...]" literal.
    const qsizetype colon = host.lastIndexOf(':');
    if (colon >= 0 && colon > host.lastIndexOf(']')) {
        bool ok = false;
        const uint port = host.mid(colon + 1).toUInt(&ok);
        if (!ok || port == 0 || port > 65535)
            return u;
        u.Port = quint16(port);
        host.truncate(colon);
    }
    u.HostName = host;
    u.Valid = !host.isEmpty();
    return u;
}

QByteArray TransferAddress(const HTTPUrl& u)
{
    QByteArray address = (u.Https ? "https://" : "http://") + u.HostName.toUtf8();
    if (u.Port != (u.Https ? 443 : 80))
        address += ':' + QByteArray::number(u.Port);
    return address + escapePath(u.ObjectPath.toUtf8());
}
