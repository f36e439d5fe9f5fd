#include "run/RunPass.h"

#include "net/HTTPGet.h"
#include "net/RateLimiter.h"
#include "run/install/UpdateFiles.h"
#include "run/install/StateSaver.h"
#include "run/lang/langSys.h"
#include "run/report/UpdateHost.h"

#include "Text.h"

RunPass::RunPass(UpdateHost& host, THTTPGet& getFile, const UpdateOptions& options, UpdateListEntries& list,
                 UpdatePlan& plan, std::function<void()> ended)
    : host_(host), getFile_(getFile), options_(options), list_(list), plan_(plan), ended_(std::move(ended)),
      report_(options.Quiet), progress_(host),
      folders_{options.ProgramFolder, InstallBase(options.ProgramFolder),
               options.CheckOnly ? checkFolder_.path() : DownloadFolder(options.ProgramFolder),
               DownloadFolder(options.ProgramFolder)},
      workspace_(folders_, options.CheckOnly, options.Quiet), sources_(options.Settings.Site, options.Settings.Mirrors)
{
}

RunPass::~RunPass() { end(); }

void RunPass::start() { schedule(); }

void RunPass::cancel()
{
    if (stage_ == Stage::Ended || cancelled_)
        return;
    cancelled_ = true;
    if (!report_.settled())
        report_.cancel();  // the downloads it aborts are no failure of the run's
    if (intake_)
        intake_->stop();
    getFile_.Abort();
    if (queue_)
        queue_->abortAll();
    schedule();
}

void RunPass::schedule()
{
    if (advancing_) {
        again_ = true;
        return;
    }
    if (posted_ || stage_ == Stage::Ended)
        return;
    posted_ = true;
    QMetaObject::invokeMethod(this, [this] { advance(); }, Qt::QueuedConnection);
}

void RunPass::advance()
{
    posted_ = false;
    advancing_ = true;
    do {
        again_ = false;
        if (stage_ != Stage::Ended)
            step();
    } while (again_);
    advancing_ = false;
    if (stage_ == Stage::Ended && ended_) {
        const std::function<void()> ended = std::move(ended_);
        ended_ = nullptr;
        ended();  // may destroy this pass
    }
}

void RunPass::step()
{
    if (cancelled_) {
        report_.cancel();
        return end();
    }
    if (report_.settled())
        return end();
    switch (stage_) {
    case Stage::Begin: return begin();
    case Stage::Lists: return listsTaken();
    case Stage::Planning: return planning();
    case Stage::Entries: return entries();
    case Stage::Dropped: return dropped();
    case Stage::Ended: return;
    }
}

// The lock, the record, the download folder; then the lists.
void RunPass::begin()
{
    list_ = {};
    if (!workspace_.claim(report_))
        return end();
    state_ = InstalledState::read(folders_.program, folders_.installBase);
    // A switch a run was cut off in is finished before anything else.
    if (QString subject; !options_.CheckOnly) {
        if (const Status finished = ReleaseSwitch::finishLeftover(folders_, state_, &subject); !finished) {
            report_.fail(subject, finished.error());
            return end();
        }
    }
    if (!workspace_.makeDownloadFolder(report_, displayText(text("Error"))))
        return end();
    // Downloads run ahead of the installs: while the run works on one entry, the next differing
    // entries are already being fetched (HTTP/2 streams on one connection where the site offers
    // them, else #UpdateConnections HTTP/1.1 connections; 1 is one after the other), within the
    // byte rate #UpdateMaxRate when set. The lists beside update.txt come through it too.
    const UpdateSettings& settings = options_.Settings;
    auto limiter = settings.MaxRate > 0 ? std::make_shared<RateLimiter>(settings.MaxRate) : nullptr;
    queue_ = std::make_unique<DownloadQueue>(getFile_, sources_, settings.Connections, limiter, options_.RetryDelayMs);
    intake_ = std::make_unique<ListIntake>(*queue_, getFile_, host_, report_, folders_, options_);
    intake_->recordHeld = !state_.Listed.isEmpty();
    stage_ = Stage::Lists;
    intake_->start([this](Status status) {
        lists_ = status;
        schedule();
    });
}

// Once the lists are in: each entry resolved, and the checks and routes ready.
void RunPass::listsTaken()
{
    if (!lists_)
        return;
    list_ = intake_->list;
    if (!*lists_)
        return end();
    if (intake_->current) {  // the site's head names the installed release: nothing to do
        report_.complete();
        return end();
    }
    const Sums* sums = intake_->sums ? &*intake_->sums : nullptr;
    planned_ = PlannedEntry::resolve(list_.entries, sums);
    const RouteContext context{*queue_, progress_, report_, folders_, options_.CheckOnly};
    whole_ = std::make_unique<WholeFileRoute>(context);
    if (sums) {
        chunks_ = std::make_unique<ChunkRoute>(context, state_, planned_);
        patches_ = std::make_unique<PatchRoute>(context, state_, *sums, folders_.installBase);
    }
    const UpdatePlanning::Routes routes{*whole_, chunks_.get(), patches_.get()};
    planning_ = std::make_unique<UpdatePlanning>(planned_, folders_.installBase, state_, options_.Repair, routes,
                                                 *queue_, [this] { schedule(); });
    release_ = std::make_unique<ReleaseSwitch>(folders_, state_);
    droppedFiles_ = std::make_unique<DroppedFiles>(folders_.installBase, state_);
    queue_->onSlotFree = [this] { schedule(); };
    stage_ = Stage::Planning;
    again_ = true;
}

// Before the first download: every entry decided and estimated (see UpdatePlanning).
void RunPass::planning()
{
    if (planning_->advance())
        plannedAll();
}

// Current content with the other executable bit: a check names it, a run sets it in place at the
// switch (nothing is fetched for it).
void RunPass::changeModes()
{
    for (const auto& [i, executable] : planning_->modes()) {
        if (!options_.CheckOnly)
            release_->changeMode(planned_[i]);
        plan_.modes << ModeChange{planned_[i].entry.listed, executable};
    }
}

// A check has its answer; a run starts obtaining the files.
void RunPass::plannedAll()
{
    changeModes();
    const QHash<qsizetype, qint64>& costs = planning_->costs();
    for (const qsizetype i : planning_->differing()) {
        plan_.download += costs.value(i);
        if (options_.CheckOnly) {
            plan_.fetch << planned_[i].entry;
            plan_.bytes += planned_[i].entry.size;
        }
    }
    if (!planning_->measureRoom(!options_.CheckOnly, plan_, report_))  // a check only names the room
        return end();
    progress_.planned(costs);
    stage_ = options_.CheckOnly ? Stage::Dropped : Stage::Entries;
    again_ = true;
}

// Starts obtaining the differing entries in list order while there is room (downloads run ahead
// of the installs).
void RunPass::fill()
{
    const QList<qsizetype>& differing = planning_->differing();
    while (next_ < differing.size() && queue_->hasRoom()) {
        const qsizetype i = differing[next_++];
        const PlannedEntry& planned = planned_[i];
        planning_->routeFor(planned).prepare(i, planned);
        fetching_.insert(i);
        plan_.fetch << planned.entry;
        plan_.bytes += planned.entry.size;
    }
}

// The entries in list order: each reached once it is decided, its file obtained and installed.
void RunPass::entries()
{
    fill();
    if (report_.settled())
        return end();
    const QList<qsizetype>& differing = planning_->differing();
    while (current_ < planned_.size() && !cancelled_) {
        if (obtaining_)
            return;  // the route reports its end
        if (obtained_)
            return obtained(current_, std::move(*std::exchange(obtained_, std::nullopt)));
        if (next_ < differing.size() && differing[next_] <= current_)
            return;  // to be started once the queue has room
        if (!reachEntry(current_))
            continue;
        obtain(current_, planning_->routeFor(planned_[current_]));
    }
    if (current_ == planned_.size()) {
        stage_ = Stage::Dropped;
        again_ = true;
    }
}

// Tells the host of entry i once; whether it is to be obtained (else the next entry is current).
bool RunPass::reachEntry(qsizetype i)
{
    if (reached_ != i) {
        reached_ = i;
        // The status line follows at a readable rate: thousands of small files a second would
        // spend the main thread on repainting it, and starve the downloads of new work.
        if (!shown_.isValid() || shown_.elapsed() >= options_.StatusEveryMs) {
            host_.entryReached(i, planned_.size(), planned_[i].entry.listed);
            shown_.start();
            if (cancelled_)
                return false;
        }
    }
    if (fetching_.contains(i))
        return true;
    ++current_;
    return false;
}

void RunPass::obtain(qsizetype i, FileRoute& route)
{
    obtaining_ = true;
    progress_.entering(i);
    route_ = &route;
    route.obtain(i, planned_[i], [this](Result<ObtainedFile> result) {
        obtaining_ = false;
        obtained_ = std::move(result);
        schedule();
    });
}

// A file obtained is installed; one a route declined is obtained by the next (whole at last).
void RunPass::obtained(qsizetype i, Result<ObtainedFile> result)
{
    if (!result)
        return end();
    const PlannedEntry& planned = planned_[i];
    if (result->file.isEmpty()) {
        FileRoute& next = planning_->routeAfter(*route_, planned);
        next.prepare(i, planned);
        return obtain(i, next);
    }
    // Staged until the switch, under the name a whole download of it has, for a later run to reuse.
    if (const Status staged = release_->stage(planned, result->file, result->digest, whole_->downloadName(planned.entry));
        !staged) {
        report_.fail(displayText(planned.entry.listed.mid(1)), staged.error());
        return end();
    }
    if (chunks_)
        chunks_->installed(i, result->digest);
    progress_.entryDone();
    fetching_.remove(i);
    ++current_;
    again_ = true;
}

// After the entries: the files the release dropped (a check only names them).
void RunPass::dropped()
{
    if (!dropped_) {
        if (list_.problem.kind != ListProblem::None || !intake_->sums)
            dropped_.emplace();
        else if (!findingDropped_) {
            findingDropped_ = true;
            return droppedFiles_->find(list_.entries, [this](QList<QByteArray> found) {
                dropped_ = std::move(found);
                schedule();
            });
        } else {
            return;  // being hashed: the answer looks again
        }
    }
    if (options_.CheckOnly) {
        plan_.remove = *dropped_;
        report_.complete();
        return end();
    }
    const ReleaseSwitch::Hooks hooks{[this](const QByteArray& listed) { host_.fileInstalled(listed); },
                                     [this](const QByteArray& listed) {
                                         plan_.remove << listed;
                                         host_.fileDeleted(listed);
                                     }};
    QString subject;
    if (const Status switched = release_->switchIn(*dropped_, intake_->acceptedStamp, hooks, &subject); !switched) {
        report_.fail(subject, switched.error());
        return end();
    }
    complete();
}

// A completed run leaves nothing in the download folder, and only the chunk lists of installed
// files.
void RunPass::complete()
{
    queue_.reset();
    StateSaver::save(state_, list_, true, folders_.program, folders_.installBase);
    release_->finish();  // the record is written: the switch is over
    workspace_.empty();
    if (chunks_)
        chunks_->prune();
    report_.complete();
    end();
}

// However the run ends: the downloads stop, the small lists go, the record is written and the
// renames made durable, and the installation is released.
void RunPass::end()
{
    if (stage_ == Stage::Ended)
        return;
    stage_ = Stage::Ended;
    if (intake_)
        intake_->stop();
    whole_.reset();  // its checks of kept downloads would start fetches on the queue
    queue_.reset();  // aborts and joins: nothing reports any more
    planning_.reset();  // waits for the hashes in flight
    chunks_.reset();
    patches_.reset();
    droppedFiles_.reset();
    const bool completed = report_.outcome().kind == UpdateOutcome::Completed;
    const bool current = intake_ && intake_->current;  // nothing was read, nothing changed
    if (workspace_.claimed() && !current)
        StateSaver::save(state_, list_, completed, folders_.program, folders_.installBase);
    if (workspace_.claimed() && completed && !current && intake_)
        intake_->keepHead();  // when it can't be kept, the next run reads the lists again
    if (release_ && report_.outcome().kind == UpdateOutcome::Failed)
        workspace_.dropPartialsWhenFull(release_->stagedNames());
    release_.reset();
    workspace_.release();
}

QByteArray RunPass::text(const char* key) const
{
    return options_.Texts ? options_.Texts->Translate(key) : Translate(key);
}
