#pragma once
// The update run behind the Update button (IVButton1Click): fetches "update.txt" from the update
// site, compares every listed file with the installed copy, downloads each differing file into
// the download folder "temp", installs it over the installed file and cleans up. It decides what
// every failure means, prints one line on standard error for a failure, and reports its outcome
// through finished(), which says how the window is to present it (UpdateOutcome). start()
// returns at once: the run goes on from the events of its own work (RunPass), on this thread.
// The window, the check command and the quiet run are front ends over it.

#include "run/plan/UpdateOptions.h"
#include "run/report/UpdateOutcome.h"
#include "site/UpdateList.h"

#include <QObject>

#include <memory>

class RunPass;
class THTTPGet;
class UpdateHost;

class UpdateRun : public QObject {
    Q_OBJECT
public:
    // getFile: the window's download component, set up with BinaryData and WaitThread true.
    UpdateRun(UpdateHost& host, THTTPGet& getFile, UpdateOptions options, QObject* parent = nullptr);
    ~UpdateRun() override;

    // Starts a run; false (and nothing started) while one is in progress.
    bool start();
    // Ends a run in progress as cancelled: the downloads are aborted at once and nothing further
    // is installed. Does nothing when no run is in progress.
    void cancel();
    bool running() const { return running_; }
    // How the last run ended (NotRun before one has).
    const UpdateOutcome& outcome() const { return outcome_; }

    // The last update list read, as typed entries.
    UpdateListEntries UpdateList;
    // What the last run fetched and deleted (with CheckOnly: would fetch and delete).
    UpdatePlan Plan;

signals:
    void finished(const UpdateOutcome& outcome);

private:
    void passEnded();

    UpdateHost& host_;
    THTTPGet& getFile_;
    UpdateOptions options_;
    std::unique_ptr<RunPass> pass_;
    bool running_ = false;
    UpdateOutcome outcome_;
};
