#include "run/InstalledChunks.h"

#include "site/SiteFiles.h"

#include "AtomicFile.h"
#include "Digits.h"

#include <QDir>
#include <QFile>

namespace {
// A list of the largest chunk count an index may hold for a file of several GiB stays far below.
constexpr qint64 MaxListBytes = 256 * 1024 * 1024;
}  // namespace

TInstalledChunks::TInstalledChunks(const QString& programFolder)
    : folder_(QDir(programFolder).filePath(InstallationFile::ChunkLists))
{
}

QString TInstalledChunks::path(const QByteArray& fileHash) const
{
    return folder_ + QLatin1Char('/') + QString::fromLatin1(fileHash.toHex());
}

void TInstalledChunks::listFolder()
{
    if (listed_)
        return;
    listed_ = true;
    for (const QString& name : QDir(folder_).entryList(QDir::Files | QDir::Hidden)) {
        if (const std::optional<QByteArray> hash = parseLowerHex(name.toLatin1()); hash && hash->size() == 32)
            present_.insert(*hash);
    }
}

std::shared_ptr<const ChunkList> TInstalledChunks::Find(const QByteArray& fileHash)
{
    if (const auto it = loaded_.constFind(fileHash); it != loaded_.constEnd())
        return *it;
    listFolder();
    if (!present_.contains(fileHash))
        return nullptr;
    QFile file(path(fileHash));
    std::shared_ptr<const ChunkList> found;
    if (file.open(QIODevice::ReadOnly) && file.size() <= MaxListBytes) {
        Result<ChunkList> parsed = ChunkList::parse(file.readAll());
        if (parsed && parsed->file.fileHash == fileHash)
            found = std::make_shared<const ChunkList>(std::move(parsed).value());
    }
    loaded_.insert(fileHash, found);
    return found;
}

bool TInstalledChunks::Has(const QByteArray& fileHash)
{
    listFolder();
    return present_.contains(fileHash);
}

void TInstalledChunks::Keep(const ChunkList& list)
{
    listFolder();
    if (!QDir().mkpath(folder_) || !replaceFile(path(list.file.fileHash), list.serialize(), false))
        return;
    present_.insert(list.file.fileHash);
    loaded_.insert(list.file.fileHash, std::make_shared<const ChunkList>(list));
}

void TInstalledChunks::KeepOnly(const QSet<QByteArray>& fileHashes)
{
    listFolder();
    for (const QByteArray& hash : QSet<QByteArray>(present_)) {
        if (fileHashes.contains(hash))
            continue;
        QFile::remove(path(hash));
        present_.remove(hash);
        loaded_.remove(hash);
    }
    QDir().rmdir(folder_);  // only when empty
}
