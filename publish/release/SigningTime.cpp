#include "release/SigningTime.h"

#include "common/SiteFileReading.h"
#include "site/SiteFiles.h"
#include "site/TrustedFields.h"

#include <QList>

namespace {

constexpr QByteArrayView TrustedPrefix = "trusted comment: ";
constexpr qint64 SignatureLimit = 64 * 1024;

}  // namespace

std::optional<qint64> signedTimestampOf(const QString& release)
{
    if (release.isEmpty())
        return std::nullopt;
    const Result<QByteArray> signature = readSiteFile(release + '/' + SiteFile::Signature, SignatureLimit);
    if (!signature)
        return std::nullopt;
    for (const QByteArray& line : signature->split('\n')) {
        if (!line.startsWith(TrustedPrefix))
            continue;
        const Result<TrustedFields> fields = TrustedFields::parse(QByteArrayView(line).sliced(TrustedPrefix.size()).trimmed());
        return fields ? fields->timestamp : std::nullopt;
    }
    return std::nullopt;
}

SigningTime signingTime(const QString& current, qint64 now)
{
    const std::optional<qint64> last = signedTimestampOf(current);
    if (!last || *last < now)
        return {now, 0};
    return {*last + 1, *last + 1 - now};
}
