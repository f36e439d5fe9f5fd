#include "patch/PatchApplier.h"

#include "patch/ControlReader.h"
#include "patch/WordDiff.h"
#include "patch/ZeroRuns.h"

#include <algorithm>

namespace {

constexpr quint64 PieceSize = 64 * 1024;

}  // namespace

Status PatchApplier::writeTo(QIODevice& out)
{
    Result<PatchHeader> header = PatchHeader::parse(patch_);
    if (!header)
        return Status::failure(header.error());
    header_ = *header;
    if (Status old = checkOld(); !old)
        return old;
    out_ = &out;
    newPos_ = 0;
    oldPos_ = 0;
    buffer_.resize(PieceSize);
    const Status made = header_.method == PatchMethod::ZstdPrefix ? applyPrefix() : applyDiff();
    if (!made)
        return made;
    if (newHash_.final() != header_.newHash)
        return Status::failure(QStringLiteral("the result's SHA-256 is not the one the patch names"));
    return {};
}

Status PatchApplier::checkOld() const
{
    if (quint64(old_.size()) != header_.oldSize)
        return Status::failure(QStringLiteral("the old file has %1 bytes, the patch was made from %2")
                                   .arg(old_.size()).arg(header_.oldSize));
    if (Sha256::hash(old_) != header_.oldHash)
        return Status::failure(QStringLiteral("the old file's SHA-256 is not the one the patch was made from"));
    return {};
}

Status PatchApplier::applyPrefix()
{
    ZstdStreamReader stream;
    if (Status s = stream.start(patch_.sliced(header_.encodedSize()), header_.newSize, old_); !s)
        return s;
    if (Status s = copyStream(stream, header_.newSize); !s)
        return s;
    return stream.finish();
}

Status PatchApplier::startStreams(ZstdStreamReader (&streams)[PatchHeader::StreamCount])
{
    qsizetype at = header_.encodedSize();
    for (int i = 0; i < PatchHeader::StreamCount; ++i) {
        const PatchStream& s = header_.streams[size_t(i)];
        if (Status started = streams[i].start(patch_.sliced(at, qsizetype(s.packed)), s.size); !started)
            return started;
        at += qsizetype(s.packed);
    }
    return {};
}

Status PatchApplier::applyDiff()
{
    ZstdStreamReader streams[PatchHeader::StreamCount];
    if (Status s = startStreams(streams); !s)
        return s;
    ControlReader controls(streams[PatchHeader::Control]);
    ZeroRunReader diff(streams[PatchHeader::ZeroRuns], streams[PatchHeader::Words],
                       header_.newSize - header_.streams[PatchHeader::Extra].size);
    while (!controls.atEnd()) {
        const Result<ControlTuple> tuple = controls.next();
        if (!tuple)
            return Status::failure(tuple.error());
        if (Status s = step(*tuple, diff, streams[PatchHeader::Extra]); !s)
            return s;
    }
    if (newPos_ != header_.newSize)
        return Status::failure(QStringLiteral("the steps make %1 bytes, not %2").arg(newPos_).arg(header_.newSize));
    if (Status s = diff.finish(); !s)
        return s;
    for (int stream : {PatchHeader::Control, PatchHeader::Extra}) {
        if (Status s = streams[stream].finish(); !s)
            return s;
    }
    return {};
}

Status PatchApplier::step(const ControlTuple& tuple, ZeroRunReader& diff, ZstdStreamReader& extra)
{
    if (tuple.matchLength > header_.newSize - newPos_ || tuple.extraLength > header_.newSize - newPos_ - tuple.matchLength)
        return Status::failure(QStringLiteral("a step goes past the new file's %1 bytes").arg(header_.newSize));
    if (tuple.matchLength > header_.oldSize - oldPos_)
        return Status::failure(QStringLiteral("a step reads past the old file's %1 bytes").arg(header_.oldSize));
    if (Status s = copyDiff(diff, tuple.matchLength); !s)
        return s;
    oldPos_ += tuple.matchLength;
    if (Status s = copyStream(extra, tuple.extraLength); !s)
        return s;
    if (tuple.seek < -qint64(oldPos_) || (tuple.seek > 0 && quint64(tuple.seek) > header_.oldSize - oldPos_))
        return Status::failure(QStringLiteral("a step moves outside the old file"));
    oldPos_ = quint64(qint64(oldPos_) + tuple.seek);
    return {};
}

// length bytes of stream to the output.
Status PatchApplier::copyStream(ZstdStreamReader& stream, quint64 length)
{
    while (length > 0) {
        const quint64 n = std::min(length, PieceSize);
        if (Status s = stream.read(buffer_.data(), n); !s)
            return s;
        if (Status s = put(buffer_.data(), qint64(n)); !s)
            return s;
        length -= n;
    }
    return {};
}

// length bytes made from the diff against the old bytes from oldPos_ on.
Status PatchApplier::copyDiff(ZeroRunReader& diff, quint64 length)
{
    WordDiffDecoder words;
    words.start(length);
    const char* old = old_.data() + oldPos_;
    while (length > 0) {
        const quint64 n = std::min(length, PieceSize);
        if (Status s = diff.read(buffer_.data(), n); !s)
            return s;
        words.add(buffer_.data(), old, n);
        if (Status s = put(buffer_.data(), qint64(n)); !s)
            return s;
        old += n;
        length -= n;
    }
    return {};
}

Status PatchApplier::put(const char* data, qint64 length)
{
    newHash_.update(data, size_t(length));
    if (out_->write(data, length) != length)
        return Status::failure(QStringLiteral("writing the new file: %1").arg(out_->errorString()));
    newPos_ += quint64(length);
    return {};
}
