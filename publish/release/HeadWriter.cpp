#include "release/HeadWriter.h"

#include "common/PublishError.h"
#include "common/SiteFileReading.h"
#include "release/FileCopy.h"
#include "release/MinisignTool.h"
#include "site/SiteFiles.h"
#include "site/UpdateHead.h"
#include "trust/Sha256.h"

#include <QFile>

#include <fcntl.h>
#include <sys/stat.h>
#include <zlib.h>

namespace {
constexpr qint64 ListLimit = 64 * 1024 * 1024;
constexpr int GzipWindow = 15 + 16;  // zlib's deflate with a gzip header and trailer

QByteArray readList(const QString& path)
{
    const Result<QByteArray> bytes = readSiteFile(path, ListLimit);
    if (!bytes)
        throw PublishError{path, bytes.error()};
    return bytes.value();
}

// The whole of bytes as one gzip member, at the best compression (written once, read often).
QByteArray gzip(const QByteArray& bytes, const QString& path)
{
    z_stream stream{};
    if (deflateInit2(&stream, Z_BEST_COMPRESSION, Z_DEFLATED, GzipWindow, 9, Z_DEFAULT_STRATEGY) != Z_OK)
        throw PublishError{path, QStringLiteral("cannot compress")};
    QByteArray out(qsizetype(deflateBound(&stream, uLong(bytes.size()))), '\0');
    stream.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(bytes.constData()));
    stream.avail_in = uInt(bytes.size());
    stream.next_out = reinterpret_cast<Bytef*>(out.data());
    stream.avail_out = uInt(out.size());
    const int result = deflate(&stream, Z_FINISH);
    out.truncate(qsizetype(stream.total_out));
    deflateEnd(&stream);
    if (result != Z_STREAM_END)
        throw PublishError{path, QStringLiteral("cannot compress")};
    return out;
}

// The modification time in whole seconds; nothing when there is no such file.
std::optional<qint64> modifiedSecond(const QString& path)
{
    struct stat info {};
    if (::stat(QFile::encodeName(path).constData(), &info) != 0)
        return std::nullopt;
    return qint64(info.st_mtim.tv_sec);
}

// Moves head's modification time to the second after the previous head's, when it is not
// later already.
void laterThan(const QString& head, const QString& previousHead)
{
    const std::optional<qint64> before = modifiedSecond(previousHead);
    const std::optional<qint64> now = modifiedSecond(head);
    if (!before || !now || *now > *before)
        return;
    const struct timespec times[2] = {{0, UTIME_OMIT}, {time_t(*before + 1), 0}};
    if (::utimensat(AT_FDCWD, QFile::encodeName(head).constData(), times, 0) != 0)
        throw PublishError{head, QStringLiteral("cannot set its modification time")};
}
}  // namespace

void writeSignedHead(const QString& tool, const QString& secretKey, const std::optional<QByteArray>& password,
                     const QString& target, const QByteArray& trustedComment, const QString& previous)
{
    const QByteArray part = UpdateHead::signedPartFor(Sha256::hash(readList(target + '/' + SiteFile::List)),
                                                      Sha256::hash(readList(target + '/' + SiteFile::Sums)));
    const QString head = target + '/' + SiteFile::Head;
    const QString signature = head + QStringLiteral(".minisig");
    writeNewFile(head, part);
    signWithMinisign(tool, secretKey, password, head, signature, trustedComment);
    const QByteArray signatureBytes = readList(signature);
    QFile::remove(head);
    QFile::remove(signature);
    writeNewFile(head, part + signatureBytes);
    if (!previous.isEmpty())
        laterThan(head, previous + '/' + SiteFile::Head);
}

void writeCompressedLists(const QString& target)
{
    for (const QString& list : {SiteFile::List, SiteFile::Sums}) {
        const QString path = target + '/' + list;
        writeNewFile(SiteFile::compressed(path), gzip(readList(path), path));
    }
}
