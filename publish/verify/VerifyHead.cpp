#include "verify/VerifyHead.h"

#include "common/SiteFileReading.h"
#include "site/SiteFiles.h"
#include "site/UpdateHead.h"
#include "trust/SignedHead.h"

#include <QFile>

#include <zlib.h>

namespace {
// A player reads no larger head than this.
constexpr qint64 MaxHeadSize = 4 * 1024;
constexpr int GzipWindow = 15 + 16;  // zlib's inflate of a gzip member

class HeadChecker {
public:
    HeadChecker(const HeadCheckInput& input, SiteCheck& check) : in_(input), check_(check) {}

    void run()
    {
        checkHeadFile();
        checkCompressed(SiteFile::List, in_.list);
        checkCompressed(SiteFile::Sums, in_.sums);
    }

private:
    void problem(const QString& name, const QString& reason)
    {
        check_.problems.append({QFile::encodeName(in_.siteDir + '/' + name), reason});
    }

    // The file's bytes; nothing when it is missing (not a problem) or unreadable (one).
    std::optional<QByteArray> optionalFile(const QString& name, qint64 limit)
    {
        const Result<QByteArray> bytes = readSiteFile(in_.siteDir + '/' + name, limit);
        if (bytes)
            return bytes.value();
        if (bytes.error() != QStringLiteral("missing"))
            problem(name, bytes.error());
        return std::nullopt;
    }

    void checkHeadFile()
    {
        const std::optional<QByteArray> file = optionalFile(SiteFile::Head, MaxHeadSize);
        if (!file)
            return;
        std::optional<UpdateHead> head;
        if (in_.keyLine) {
            Result<SignedHead> signedHead = checkSignedHead(*file, *in_.keyLine, std::nullopt, in_.now);
            if (!signedHead)
                return problem(SiteFile::Head, signedHead.error());
            if (in_.listTimestamp && signedHead->timestamp != *in_.listTimestamp)
                problem(SiteFile::Head, QStringLiteral("signed at %1, the lists at %2")
                                            .arg(signedHead->timestamp)
                                            .arg(*in_.listTimestamp));
            head = signedHead->head;
        } else {
            Result<UpdateHead> parsed = UpdateHead::parse(*file);
            if (!parsed)
                return problem(SiteFile::Head, parsed.error());
            head = std::move(parsed).value();
        }
        if (const Status named = checkHeadNames(*head, in_.list, in_.sums); !named)
            problem(SiteFile::Head, named.error());
    }

    void checkCompressed(const QString& list, const QByteArray& bytes)
    {
        const QString name = SiteFile::compressed(list);
        const std::optional<QByteArray> packed = optionalFile(name, SiteFileLimit);
        if (!packed)
            return;
        const std::optional<QByteArray> unpacked = gunzip(*packed, bytes.size());
        if (!unpacked)
            problem(name, QStringLiteral("not a gzip file"));
        else if (*unpacked != bytes)
            problem(name, QStringLiteral("does not decompress to %1").arg(list));
    }

    // One gzip member whole; at most expected + 1 bytes are decoded (enough to tell a longer one).
    static std::optional<QByteArray> gunzip(const QByteArray& packed, qsizetype expected)
    {
        z_stream stream{};
        if (inflateInit2(&stream, GzipWindow) != Z_OK)
            return std::nullopt;
        QByteArray out(expected + 1, '\0');
        stream.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(packed.constData()));
        stream.avail_in = uInt(packed.size());
        stream.next_out = reinterpret_cast<Bytef*>(out.data());
        stream.avail_out = uInt(out.size());
        const int result = inflate(&stream, Z_FINISH);
        out.truncate(qsizetype(stream.total_out));
        inflateEnd(&stream);
        if (result == Z_STREAM_END || (result == Z_BUF_ERROR && stream.avail_out == 0))
            return out;  // a longer result shows as one byte too many
        return std::nullopt;
    }

    const HeadCheckInput& in_;
    SiteCheck& check_;
};
}  // namespace

void checkHead(const HeadCheckInput& input, SiteCheck& check) { HeadChecker(input, check).run(); }
