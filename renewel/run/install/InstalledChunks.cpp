#include "run/install/InstalledChunks.h"

#include "chunk/ChunkStore.h"
#include "site/SiteFiles.h"

#include "AtomicFile.h"
#include "Digits.h"
#include "platform/Folders.h"
#include "platform/RegularFile.h"

#include <QDir>
#include <QFile>

namespace {
// A list of the largest chunk count an index may hold for a file of several GiB stays far below.
constexpr qint64 MaxListBytes = 256 * 1024 * 1024;
}  // namespace

InstalledChunks::InstalledChunks(const QString& programFolder)
    : folder_(QDir(programFolder).filePath(InstallationFile::ChunkLists))
{
}

QString InstalledChunks::path(const QByteArray& fileHash) const
{
    return folder_ + QLatin1Char('/') + QString::fromLatin1(fileHash.toHex());
}

QString InstalledChunks::indexPath(const QByteArray& fileHash) const
{
    return folder_ + QLatin1Char('/') + ChunkStore::indexFileName(fileHash);
}

bool InstalledChunks::folderUsable() const
{
    // A link there may lead anywhere: nothing is read, written or deleted through it.
    return !platform::isSymbolicLink(folder_);
}

void InstalledChunks::listFolder()
{
    if (listed_)
        return;
    listed_ = true;
    if (!folderUsable())
        return;
    for (const QString& name : QDir(folder_).entryList(QDir::Files | QDir::Hidden)) {
        const bool index = name.endsWith(ChunkStore::IndexSuffix);
        const QByteArray hex = (index ? name.chopped(ChunkStore::IndexSuffix.size()) : name).toLatin1();
        if (const std::optional<QByteArray> hash = parseLowerHex(hex); hash && hash->size() == 32)
            (index ? indexed_ : present_).insert(*hash);
    }
}

std::shared_ptr<const ChunkList> InstalledChunks::find(const QByteArray& fileHash)
{
    if (const auto it = loaded_.constFind(fileHash); it != loaded_.constEnd())
        return *it;
    listFolder();
    if (!present_.contains(fileHash))
        return nullptr;
    std::shared_ptr<const ChunkList> found;
    if (const Result<QByteArray> bytes = platform::readRegularFile(path(fileHash), MaxListBytes)) {
        Result<ChunkList> parsed = ChunkList::parse(*bytes);
        if (parsed && parsed->file.fileHash == fileHash)
            found = std::make_shared<const ChunkList>(std::move(parsed).value());
    }
    loaded_.insert(fileHash, found);
    return found;
}

bool InstalledChunks::has(const QByteArray& fileHash)
{
    listFolder();
    return present_.contains(fileHash);
}

void InstalledChunks::keep(const ChunkList& list)
{
    listFolder();
    if (!folderUsable() || !platform::makeFolders(folder_) || !replaceFile(path(list.file.fileHash), list.serialize(), false))
        return;
    present_.insert(list.file.fileHash);
    loaded_.insert(list.file.fileHash, std::make_shared<const ChunkList>(list));
}

void InstalledChunks::keepIndex(const ChunkIndex& index)
{
    keep(ChunkList::fromIndex(index));
    if (present_.contains(index.fileHash) && replaceFile(indexPath(index.fileHash), index.serialize(), false))
        indexed_.insert(index.fileHash);
}

std::optional<std::pair<ChunkIndex, QByteArray>> InstalledChunks::findIndex(const QByteArray& fileHash)
{
    if (!hasIndex(fileHash))
        return std::nullopt;
    Result<QByteArray> read = platform::readRegularFile(indexPath(fileHash), MaxListBytes);
    if (!read)
        return std::nullopt;
    QByteArray bytes = std::move(read).value();
    Result<ChunkIndex> parsed = ChunkIndex::parse(bytes);
    if (!parsed || parsed->fileHash != fileHash)
        return std::nullopt;
    return std::make_pair(std::move(parsed).value(), std::move(bytes));
}

bool InstalledChunks::hasIndex(const QByteArray& fileHash)
{
    listFolder();
    return indexed_.contains(fileHash);
}

void InstalledChunks::keepOnly(const QSet<QByteArray>& fileHashes)
{
    listFolder();
    for (const QByteArray& hash : QSet<QByteArray>(present_)) {
        if (fileHashes.contains(hash))
            continue;
        QFile::remove(path(hash));
        present_.remove(hash);
        loaded_.remove(hash);
    }
    for (const QByteArray& hash : QSet<QByteArray>(indexed_)) {
        if (!fileHashes.contains(hash)) {
            QFile::remove(indexPath(hash));
            indexed_.remove(hash);
        }
    }
    if (folderUsable())
        QDir().rmdir(folder_);  // only when empty
}
