#pragma once
// Makes the folder above each path once: a release of thousands of files in a few folders asks
// the file system about each folder once, not about each file.

#include <QByteArray>
#include <QSet>

class FolderCache {
public:
    // Creates the folders above path that are missing; throws PublishError.
    void makeParentOf(const QByteArray& path);

private:
    QSet<QByteArray> made_;
};
