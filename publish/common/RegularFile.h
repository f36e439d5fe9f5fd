#pragma once
// A file of a site or a store opened for reading only when it is a regular file: opened without
// blocking (a FIFO or a device in its place never stalls the tool), then refused unless it is a
// regular file, so its size is known before anything is read. A link is followed: the site
// itself and its "chunks" are links.

#include "Result.h"

#include <QByteArray>
#include <QString>

#include <limits>

class RegularFile {
public:
    // The reason when it can't be opened ("missing" when there is nothing at path) or is not a
    // regular file.
    static Result<RegularFile> open(const QString& path);
    // A whole file; the reason when it can't be read or holds more than maxSize bytes.
    static Result<QByteArray> read(const QString& path, qint64 maxSize = std::numeric_limits<qint64>::max());

    RegularFile(RegularFile&& other) noexcept;
    RegularFile& operator=(RegularFile&& other) noexcept;
    RegularFile(const RegularFile&) = delete;
    RegularFile& operator=(const RegularFile&) = delete;
    ~RegularFile();

    qint64 size() const { return size_; }
    // Everything from the start (at most size() bytes, as the file was when opened).
    Result<QByteArray> readAll();

private:
    RegularFile(int fd, qint64 size) : fd_(fd), size_(size) {}

    int fd_ = -1;
    qint64 size_ = 0;
};
