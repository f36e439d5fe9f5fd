#pragma once
// The run's downloads as one figure for its host: the bytes planned for every file before the
// first download, and the bytes done across the whole run, never less than told before. A file
// that turns out to cost more than planned (a chunk route declining to the whole file, local
// chunks that changed) raises the total first. Everything else goes to the host as it comes.

#include "run/report/UpdateHost.h"

#include <QHash>

class RunProgress : public UpdateHost {
public:
    explicit RunProgress(UpdateHost& host) : host_(host) {}

    // The bytes each entry to be obtained will download; tells the host the total.
    void planned(const QHash<qsizetype, qint64>& costs);
    // Entry i is being obtained: the file progress that follows is its.
    void entering(qsizetype i);
    // The entry being obtained is in: all it was to cost counts as done.
    void entryDone();

    void listStageReached(ListStage stage) override { host_.listStageReached(stage); }
    void listRead(qsizetype entries) override { host_.listRead(entries); }
    void entryReached(qsizetype index, qsizetype count, const QByteArray& listed) override
    {
        host_.entryReached(index, count, listed);
    }
    void fileProgress(qint64 total, qint64 readed) override;
    void fileStarted(const QByteArray& listed, qint64 size) override;
    void fileInstalled(const QByteArray& listed) override { host_.fileInstalled(listed); }
    void fileDeleted(const QByteArray& listed) override { host_.fileDeleted(listed); }

private:
    void atLeast(qint64 fileTotal);
    void tell(qint64 done);

    UpdateHost& host_;
    QHash<qsizetype, qint64> costs_;
    qint64 total_ = 0;
    qint64 finished_ = 0;  // the costs of the entries obtained
    qint64 told_ = 0;
    qsizetype current_ = -1;
};
