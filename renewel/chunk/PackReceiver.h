#pragma once
// Where the answer to a range request for a file's pack goes: straight into the file being built.
// Each wanted chunk's stored bytes are gathered (one chunk at a time, at most its stored length),
// decompressed and checked (ChunkDecompressor) and written at every offset of the new file that
// holds it; bytes between the wanted chunks are passed over. The answer may be multipart or one
// range, may merge or leave out ranges and give them in any order: whatever arrived whole is
// used, and the caller asks again for the rest.

#include "chunk/ChunkCodec.h"
#include "chunk/ChunkIndex.h"
#include "net/HTTPSink.h"

#include "platform/FileDescriptor.h"
#include "platform/FileIO.h"

#include <QHash>
#include <QList>
#include <QMap>

#include <memory>
#include <optional>

class MultipartRanges;

// The file being built and what it still needs.
struct PackTarget {
    std::shared_ptr<FileDescriptor> file;  // kept open while any answer may still write to it
    std::shared_ptr<const ChunkIndex> index;
    QList<qint64> packOffsets;  // packOffsets(*index)
    // The offsets in the file each chunk to fetch is written at.
    QHash<QByteArray, QList<qint64>> fileOffsets;
};

class PackReceiver : public HTTPSink {
public:
    struct Refused {
        qsizetype chunk = 0;  // its place in the index
        QString reason;
    };

    // chunks: the places in the index the request asks for.
    PackReceiver(std::shared_ptr<const PackTarget> target, const QList<qsizetype>& chunks);
    ~PackReceiver() override;

    void response(const QByteArray& contentType, const QByteArray& contentRange) override;
    bool begin(qint64 total, qint64 keep, const QByteArray& validator) override;
    bool write(const char* data, qint64 size) override;
    bool finish() override;

    // Read once the transfer has ended: the chunks written into the file, and those refused.
    const QList<qsizetype>& written() const { return written_; }
    const QList<Refused>& refused() const { return refused_; }

private:
    bool take(qint64 at, QByteArrayView bytes);
    bool use(qsizetype chunk, QByteArrayView stored);

    std::shared_ptr<const PackTarget> target_;
    QMap<qint64, qsizetype> wanted_;  // by their place in the pack, until they arrive
    std::unique_ptr<MultipartRanges> parser_;
    QString parserProblem_;
    ChunkDecompressor decompressor_;
    qsizetype current_ = -1;  // the chunk being gathered, at its start in the pack
    qint64 currentAt_ = 0;
    QByteArray gathered_;
    QList<qsizetype> written_;
    QList<Refused> refused_;
};
