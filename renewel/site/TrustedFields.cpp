#include "site/TrustedFields.h"

#include "Digits.h"

Result<TrustedFields> TrustedFields::parse(QByteArrayView text)
{
    TrustedFields fields;
    qsizetype pos = 0;
    while (pos < text.size()) {
        qsizetype end = pos;
        while (end < text.size() && text[end] != ' ' && text[end] != '\t')
            ++end;
        const QByteArrayView field = text.sliced(pos, end - pos);
        pos = end + 1;
        std::optional<qint64>* target = nullptr;
        if (field.startsWith("timestamp:"))
            target = &fields.timestamp;
        else if (field.startsWith("expires:"))
            target = &fields.expires;
        else
            continue;
        const qsizetype colon = field.indexOf(':');
        const QString name = QString::fromLatin1(field.first(colon));
        if (target->has_value())
            return Result<TrustedFields>::failure(QStringLiteral("%1 given twice in the trusted comment").arg(name));
        *target = parseDigits(field.sliced(colon + 1));
        if (!target->has_value())
            return Result<TrustedFields>::failure(
                QStringLiteral("%1 in the trusted comment is not a number").arg(name));
    }
    return fields;
}

QByteArray TrustedFields::format() const
{
    QByteArray text;
    if (timestamp)
        text += "timestamp:" + QByteArray::number(*timestamp);
    if (expires)
        text += (text.isEmpty() ? "" : " ") + QByteArray("expires:") + QByteArray::number(*expires);
    return text;
}
