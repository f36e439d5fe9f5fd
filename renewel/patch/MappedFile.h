#pragma once
// A whole file mapped read-only, so a large old file or patch is read by the system page by page
// as it is used instead of being copied into memory. An empty file is an empty view.

#include "Result.h"

#include <QByteArrayView>
#include <QFile>

#include <memory>

class MappedFile {
public:
    static Result<std::unique_ptr<MappedFile>> open(const QString& path);

    QByteArrayView bytes() const { return bytes_; }

private:
    QFile file_;
    QByteArrayView bytes_;
};
