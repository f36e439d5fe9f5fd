#include "chunk/PackReceiver.h"

#include "net/HTTPPolicy.h"
#include "net/MultipartRanges.h"

#include "Result.h"
#include "platform/SystemError.h"

#include <cerrno>

PackReceiver::PackReceiver(std::shared_ptr<const PackTarget> target, const QList<qsizetype>& chunks)
    : target_(std::move(target))
{
    for (const qsizetype chunk : chunks)
        wanted_.insert(target_->packOffsets[chunk], chunk);
}

PackReceiver::~PackReceiver() = default;

// A multipart answer by its boundary, a single range by the response's Content-Range; either
// must be of this pack (its total the pack's size).
void PackReceiver::response(const QByteArray& contentType, const QByteArray& contentRange)
{
    parser_.reset();
    const qint64 packSize = target_->packOffsets.last();
    if (const std::optional<QByteArray> boundary = MultipartRanges::boundaryOf(contentType)) {
        parser_ = std::make_unique<MultipartRanges>(*boundary, packSize);
    } else if (const std::optional<ContentRange> range = ParseContentRange(contentRange)) {
        if (range->total == packSize)
            parser_ = std::make_unique<MultipartRanges>(MultipartRanges::singlePart(range->start, range->end, range->total));
    }
    if (parser_)
        parser_->onData = [this](qint64 at, QByteArrayView bytes) { return take(at, bytes); };
    else
        parserProblem_ = QStringLiteral("not a range of the pack (Content-Range \"%1\")").arg(QString::fromLatin1(contentRange));
}

// Any earlier try's chunks stay written: a chunk that comes again is passed over.
bool PackReceiver::begin(qint64, qint64, const QByteArray&)
{
    current_ = -1;
    gathered_.clear();
    if (!parser_) {
        Error = parserProblem_;
        return false;
    }
    return true;
}

bool PackReceiver::write(const char* data, qint64 size)
{
    if (parser_->feed(data, size))
        return true;
    if (Error.isEmpty())
        Error = parser_->error();
    return false;
}

bool PackReceiver::finish()
{
    if (parser_ && parser_->complete())
        return true;
    Error = QStringLiteral("the answer ended before its last range");
    return false;
}

// Bytes of the pack from at on: the wanted chunks among them are gathered, the rest passed over.
bool PackReceiver::take(qint64 at, QByteArrayView bytes)
{
    while (!bytes.isEmpty()) {
        if (current_ >= 0 && at != currentAt_ + gathered_.size()) {
            current_ = -1;  // a part that does not go on where the last one stopped
            gathered_.clear();
        }
        if (current_ < 0) {
            const auto next = wanted_.lowerBound(at);
            if (next == wanted_.end() || next.key() - at >= bytes.size())
                return true;
            bytes = bytes.sliced(next.key() - at);
            at = next.key();
            current_ = next.value();
            currentAt_ = at;
        }
        const qint64 length = target_->index->chunks[current_].storedLength;
        const qsizetype n = qsizetype(std::min<qint64>(length - gathered_.size(), bytes.size()));
        if (gathered_.isEmpty() && n == length) {
            if (!use(current_, bytes.first(n)))  // whole in this piece: not copied
                return false;
        } else {
            gathered_.append(bytes.first(n));
            if (gathered_.size() == length && !use(current_, gathered_))
                return false;
        }
        at += n;
        bytes = bytes.sliced(n);
    }
    return true;
}

// A whole chunk's stored bytes: checked, then written wherever the file holds it.
bool PackReceiver::use(qsizetype chunk, QByteArrayView stored)
{
    const ChunkIndexEntry& entry = target_->index->chunks[chunk];
    wanted_.remove(currentAt_);
    current_ = -1;
    const Result<QByteArray> bytes = decompressor_.decompress(stored, entry);
    gathered_.clear();
    if (!bytes) {
        refused_.append({chunk, bytes.error()});
        return true;
    }
    for (const qint64 offset : target_->fileOffsets.value(entry.hash)) {
        errno = 0;
        if (!platform::writeAllAt(target_->file->fd(), bytes->constData(), bytes->size(), offset)) {
            Error = errno == ENOSPC ? QStringLiteral("disk full") : QStringLiteral("cannot write file: ") + systemReason(errno ? errno : EIO);
            return false;
        }
    }
    written_.append(chunk);
    return true;
}
