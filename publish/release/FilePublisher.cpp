#include "release/FilePublisher.h"

#include "common/PublishError.h"
#include "release/FileCopy.h"
#include "trust/Sha256.h"

#include <QDateTime>
#include <QFile>

#include <optional>

namespace {

// The identity of a site copy: a hard link to it changes its change time, so that is left out.
std::optional<FileIdentity> siteIdentityOf(const QString& path)
{
    const std::optional<FileIdentity> identity = platform::identityOf(path, Links::Refuse);
    if (!identity)
        return std::nullopt;
    return identity->withoutChangeTime();
}

qint64 nowNs() { return QDateTime::currentMSecsSinceEpoch() * 1000000; }

}  // namespace

FilePublisher::Published FilePublisher::publish(const ReleaseFile& file)
{
    const PublishRecord::Entry* entry = record_.find(file.relative);
    const QString old = current_ + '/' + file.relative;
    const QByteArray target = QFile::encodeName(target_ + '/' + file.relative);
    if (!dryRun_)
        folders_.makeParentOf(target);
    if (entry && entry->source == file.identity && siteIdentityOf(old) == entry->site) {
        if (!dryRun_)
            linkOrCopy(QFile::encodeName(old), target);
        next_.add(file.relative, *entry);
        return {entry->sha256, entry->source.size, false};
    }
    const qint64 readStart = nowNs();
    const Published published = readAndCopy(file, target);
    recordIfSteady(file, published, readStart);
    return published;
}

FilePublisher::Published FilePublisher::readAndCopy(const ReleaseFile& file, const QByteArray& target)
{
    if (!dryRun_) {
        qint64 size = 0;
        QByteArray digest = copyHashed(file.source, file.identity, QFile::decodeName(target), size);
        return {digest, size, true};
    }
    const ::Result<QByteArray> hashed = sha256OfFile(file.source);
    if (!hashed)
        throw PublishError{file.source, hashed.error()};
    return {*hashed, file.identity.size, true};
}

// Recorded only when the file was not written while or just before it was read: a change within
// the file system's clock tick would leave its times as recorded.
void FilePublisher::recordIfSteady(const ReleaseFile& file, const Published& published, qint64 readStartNs)
{
    constexpr qint64 ClockTickNs = 20'000'000;
    const FileIdentity& source = file.identity;
    const std::optional<FileIdentity> site = siteIdentityOf(target_ + '/' + file.relative);
    if (!dryRun_ && site && platform::identityOf(file.source, Links::Refuse) == source && source.size == published.size
        && source.ctimeNs < readStartNs - ClockTickNs && source.mtimeNs < readStartNs - ClockTickNs)
        next_.add(file.relative, {source, *site, published.sha256});
}
