#include "run/fetch/LocalChunkFinder.h"

#include "chunk/InstalledCopies.h"
#include "run/install/InstalledChunks.h"
#include "run/install/InstalledState.h"
#include "run/install/UpdateFiles.h"

void LocalChunkFinder::find(qsizetype i, const ChunkParams& params, InstalledCopies& into, std::function<void()> then)
{
    const auto others = [this, i, params, &into, then] {
        for (const qsizetype holder : holders())
            if (holder != i)
                addKept(entries_[holder], params, into);
        then();
    };
    if (addKept(entries_[i], params, into))
        return others();
    chunkOldCopy(entries_[i], params, into, others);
}

void LocalChunkFinder::listed(qsizetype i)
{
    if (holders_)
        *holders_ << i;
}

const QList<qsizetype>& LocalChunkFinder::holders()
{
    if (!holders_) {
        holders_.emplace();
        for (qsizetype i = 0; i < entries_.size(); ++i)
            if (const InstalledState::Entry* recorded = state_.find(entries_[i].entry.listed);
                recorded && kept_.has(recorded->sha256))
                *holders_ << i;
    }
    return *holders_;
}

// A kept list counts while its file is the one recorded with that content.
bool LocalChunkFinder::addKept(const PlannedEntry& from, const ChunkParams& params, InstalledCopies& into)
{
    const InstalledState::Entry* recorded = state_.find(from.entry.listed);
    const std::shared_ptr<const ChunkList> list = recorded ? kept_.find(recorded->sha256) : nullptr;
    if (!list || list->params != params)
        return false;
    const QString path = from.entry.path.installPath(installBase_);
    if (IdentityOf(path) != std::optional<FileIdentity>(recorded->identity))
        return false;
    into.add(path, list->file);
    return true;
}

// The old copy is read once to make its list. Its SHA-256 is the record's while the file is
// unchanged since it was hashed (checked again afterwards).
void LocalChunkFinder::chunkOldCopy(const PlannedEntry& planned, const ChunkParams& params, InstalledCopies& into,
                                    std::function<void()> then)
{
    const QString old = planned.entry.path.installPath(installBase_);
    const std::optional<FileIdentity> before = IdentityOf(old);
    if (!before || before->size == 0)
        return then();
    const InstalledState::Entry* recorded = state_.find(planned.entry.listed);
    const QByteArray known = recorded && recorded->identity == *before ? recorded->sha256 : QByteArray();
    tasks_.run<Result<FileChunks>>([old, params, known] { return chunkFile(old, params, known.isEmpty()); },
                                   [this, old, before, known, params, &into, then, listed = planned.entry.listed](Result<FileChunks> chunked) {
                                       if (chunked && (known.isEmpty() || IdentityOf(old) == before)) {
                                           FileChunks chunks = std::move(chunked).value();
                                           if (!known.isEmpty())
                                               chunks.fileHash = known;
                                           else
                                               state_.record(listed, *before, chunks.fileHash);
                                           into.add(old, chunks);
                                           if (!checkOnly_)
                                               kept_.keep({params, std::move(chunks)});
                                       }
                                       then();
                                   });
}
