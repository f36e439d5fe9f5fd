#include "chunk/FileAssembler.h"

#include "AtomicFile.h"
#include "chunk/ChunkCodec.h"
#include "chunk/ChunkStore.h"
#include "trust/Sha256.h"

#include <QDir>
#include <QFile>

#include <map>
#include <memory>
#include <optional>

namespace {

// Reads local chunks, keeping each source file open while the file is assembled.
class LocalReader {
public:
    // The chunk's bytes when the source still holds them.
    std::optional<QByteArray> read(const ChunkSource& source, const QByteArray& hash)
    {
        std::unique_ptr<QFile>& file = files_[source.file];
        if (!file) {
            file = std::make_unique<QFile>(source.file);
            if (!file->open(QIODevice::ReadOnly))
                return std::nullopt;
        }
        if (!file->isOpen() || !file->seek(source.offset))
            return std::nullopt;
        QByteArray bytes = file->read(source.length);
        if (bytes.size() != qsizetype(source.length) || Sha256::hash(bytes) != hash)
            return std::nullopt;
        return bytes;
    }

private:
    std::map<QString, std::unique_ptr<QFile>> files_;
};

Result<QByteArray> readFetched(const QString& folder, const ChunkIndexEntry& entry, ChunkDecompressor& decompressor)
{
    QFile file(folder + QLatin1Char('/') + ChunkStore::objectFileName(entry.hash));
    if (!file.open(QIODevice::ReadOnly))
        return Result<QByteArray>::failure(QStringLiteral("not fetched (%1)").arg(file.errorString()));
    // One byte more than the index allows shows a stored form that is too long.
    return decompressor.decompress(file.read(qint64(entry.storedLength) + 1), entry);
}

}  // namespace

Status assembleFile(const ChunkIndex& index, const LocalChunks& local, const QString& fetchedFolder,
                    const QString& target)
{
    LocalReader reader;
    ChunkDecompressor decompressor;
    return replaceFile(target, [&](QFile& out) -> QString {
        Sha256 whole;
        qint64 written = 0;
        for (qsizetype i = 0; i < index.chunks.size(); ++i) {
            const ChunkIndexEntry& entry = index.chunks[i];
            std::optional<QByteArray> bytes;
            if (const auto found = local.constFind(entry.hash); found != local.constEnd() && found->length == entry.length)
                bytes = reader.read(*found, entry.hash);
            if (!bytes) {
                Result<QByteArray> fetched = readFetched(fetchedFolder, entry, decompressor);
                if (!fetched)
                    return QStringLiteral("chunk %1: %2").arg(i + 1).arg(fetched.error());
                bytes = std::move(fetched).value();
            }
            if (out.write(*bytes) != bytes->size())
                return out.errorString();
            whole.update(*bytes);
            written += bytes->size();
        }
        if (written != index.fileSize || whole.final() != index.fileHash)
            return QStringLiteral("the assembled file's SHA-256 differs from the index");
        return QString();
    });
}
