#pragma once
// One update run, driven by events: each step starts its work (the lists, hashing, downloads,
// building a file) and returns; the work reports its end, and the pass goes on from there on the
// main thread. Before the first download every entry is decided and what it will download is
// worked out by its route, so that the run's total is known up front (a check ends there). advance() takes every step that can be taken now; a report that arrives while it
// works (inside the window's processing of messages) only asks it to look again.

#include "run/fetch/ChunkRoute.h"
#include "run/fetch/PatchRoute.h"
#include "run/fetch/WholeFileRoute.h"
#include "run/install/DroppedFiles.h"
#include "run/install/ReleaseSwitch.h"
#include "run/install/Workspace.h"
#include "run/install/InstalledState.h"
#include "run/plan/ListIntake.h"
#include "run/plan/RunFolders.h"
#include "run/plan/UpdatePlanning.h"
#include "run/plan/UpdateOptions.h"
#include "run/report/RunProgress.h"
#include "run/report/RunReport.h"
#include "run/report/UpdateOutcome.h"
#include "net/DownloadQueue.h"
#include "net/SiteSources.h"

#include <QElapsedTimer>
#include <QHash>
#include <QObject>
#include <QSet>
#include <QTemporaryDir>

#include <functional>
#include <memory>
#include <optional>

class THTTPGet;
class UpdateHost;

class RunPass : public QObject {
    Q_OBJECT
public:
    RunPass(UpdateHost& host, THTTPGet& getFile, const UpdateOptions& options, UpdateListEntries& list, UpdatePlan& plan,
            std::function<void()> ended);
    ~RunPass() override;

    void start();
    // Aborts the downloads at once; the pass ends as cancelled and installs nothing further.
    void cancel();
    const UpdateOutcome& outcome() const { return report_.outcome(); }

private:
    enum class Stage { Begin, Lists, Planning, Entries, Dropped, Ended };

    void schedule();
    void advance();
    void step();
    void begin();
    void listsTaken();
    void planning();
    void changeModes();
    void plannedAll();
    void entries();
    void fill();
    bool reachEntry(qsizetype i);
    void obtain(qsizetype i, FileRoute& route);
    void obtained(qsizetype i, Result<ObtainedFile> result);
    void dropped();
    void complete();
    void end();
    QByteArray text(const char* key) const;

    UpdateHost& host_;
    THTTPGet& getFile_;
    const UpdateOptions& options_;
    UpdateListEntries& list_;
    UpdatePlan& plan_;
    std::function<void()> ended_;
    RunReport report_;
    RunProgress progress_;  // the routes report through it
    QTemporaryDir checkFolder_;  // the lists' download folder of a check, outside the installation
    RunFolders folders_;
    Workspace workspace_;
    InstalledState state_;
    SiteSources sources_;
    std::unique_ptr<DownloadQueue> queue_;
    std::unique_ptr<ListIntake> intake_;
    QList<PlannedEntry> planned_;
    std::unique_ptr<WholeFileRoute> whole_;
    std::unique_ptr<ChunkRoute> chunks_;  // where update.sums is there
    std::unique_ptr<PatchRoute> patches_;  // likewise
    std::unique_ptr<UpdatePlanning> planning_;
    FileRoute* route_ = nullptr;           // obtaining the current entry
    std::unique_ptr<ReleaseSwitch> release_;
    std::unique_ptr<DroppedFiles> droppedFiles_;

    Stage stage_ = Stage::Begin;
    bool cancelled_ = false;
    bool posted_ = false;     // an advance is on its way
    bool advancing_ = false;  // advance() is taking steps: a report only asks for another look
    bool again_ = false;
    std::optional<Status> lists_;  // the lists' end
    qsizetype next_ = 0;        // of the differing entries: the next to prepare
    qsizetype current_ = 0;   // the entry being installed
    qsizetype reached_ = -1;  // the last entry the host was told of
    QSet<qsizetype> fetching_;
    bool obtaining_ = false;
    std::optional<Result<ObtainedFile>> obtained_;
    bool findingDropped_ = false;
    std::optional<QList<QByteArray>> dropped_;
    QElapsedTimer shown_;
};
