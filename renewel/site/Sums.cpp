#include "site/Sums.h"

#include "site/ListedPath.h"

#include "Digits.h"

#include <algorithm>

namespace {
constexpr qsizetype HexSize = 64;
}  // namespace

Result<Sums> Sums::parse(QByteArrayView text)
{
    Sums sums;
    int number = 0;
    for (QByteArrayView rest = text; !rest.isEmpty();) {
        ++number;
        const qsizetype end = rest.indexOf('\n');
        QByteArrayView line = end < 0 ? rest : rest.first(end);
        rest = end < 0 ? QByteArrayView() : rest.sliced(end + 1);
        if (line.endsWith('\r'))
            line.chop(1);

        const auto fail = [&](const QString& why) {
            return Result<Sums>::failure(QStringLiteral("line %1: %2").arg(number).arg(why));
        };
        const std::optional<QByteArray> digest =
            line.size() < HexSize + 3 ? std::nullopt : parseLowerHex(line.first(HexSize));
        if (!digest || line.sliced(HexSize, 2) != "  ")
            return fail(QStringLiteral("not 64 lowercase hex digits, two spaces and a name"));
        const QByteArray name = key(line.sliced(HexSize + 2).toByteArray());
        if (sums.digests_.contains(name))
            return fail(QStringLiteral("second checksum for the same name"));
        sums.digests_.insert(name, *digest);
    }
    return sums;
}

std::optional<QByteArray> Sums::digest(const QByteArray& name) const
{
    const auto it = digests_.constFind(key(name));
    if (it == digests_.constEnd())
        return std::nullopt;
    return *it;
}

QList<QByteArray> Sums::names() const
{
    QList<QByteArray> names = digests_.keys();
    std::sort(names.begin(), names.end());
    return names;
}

QByteArray Sums::key(const QByteArray& name)
{
    return name.startsWith('\\') ? ListedPath::foldedKey(name).toUtf8() : name;
}

QByteArray Sums::formatLine(const QByteArray& digest, const QByteArray& name)
{
    return digest.toHex() + "  " + name + '\n';
}
