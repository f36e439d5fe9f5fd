#pragma once
// Puts the release files into the new release folder (or, in a dry run, only hashes those that
// need reading), filling the next publish record. A file whose source and site copy still have
// the identities the last record gives is shared by a hard link and not read.

#include "release/FolderCache.h"
#include "release/PublishRecord.h"
#include "release/ReleaseFiles.h"

#include <QByteArray>
#include <QString>

#include <utility>

class FilePublisher {
public:
    struct Published {
        QByteArray sha256;
        qint64 size = 0;
        bool read = false;  // the file was read (not shared from the last release)
    };

    // current: the release the site serves now; target: the new release folder.
    FilePublisher(const PublishRecord& record, const QString& current, const QString& target, bool dryRun)
        : record_(record), current_(current), target_(target), dryRun_(dryRun) {}

    // Throws PublishError.
    Published publish(const ReleaseFile& file);

    const PublishRecord& next() const { return next_; }

private:
    Published readAndCopy(const ReleaseFile& file, const QByteArray& target);
    void recordIfSteady(const ReleaseFile& file, const Published& published, qint64 readStartNs);

    const PublishRecord& record_;
    QString current_;
    QString target_;
    bool dryRun_;
    PublishRecord next_;
    FolderCache folders_;
};
