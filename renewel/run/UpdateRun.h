#pragma once
// The update run behind the Update button (IVButton1Click): fetches "update.txt" from the update
// site, compares every listed file with the installed copy by size, downloads each differing file
// into the download folder "temp", installs it over the installed file and cleans up. It decides
// what every failure means, prints one line on standard error for a failure, and returns its
// outcome, which says how the window is to present it (UpdateOutcome).

#include "run/UpdateOptions.h"
#include "run/UpdateOutcome.h"
#include "site/UpdateList.h"

#include <QByteArray>
#include <QString>

class DownloadQueue;
class THTTPGet;
class UpdateHost;

class UpdateRun {
public:
    // getFile: the window's download component, set up with BinaryData and WaitThread true.
    UpdateRun(UpdateHost& host, THTTPGet& getFile, UpdateOptions options);

    // One run. A call made while a run is in progress (a second click, or a timer tick inside
    // one of the run's message waits) returns at once, starts nothing, and says NotRun.
    UpdateOutcome run();
    // Ends a run in progress as cancelled: the downloads are aborted at once and nothing further
    // is installed. Does nothing when no run is in progress.
    void Cancel();
    bool Running() const { return running_; }
    const UpdateOutcome& Outcome() const { return outcome_; }

    // The last update list read, as typed entries.
    UpdateListEntries UpdateList;
    // What the last run fetched and deleted (with CheckOnly: would fetch and delete).
    UpdatePlan Plan;

private:
    class Pass;

    UpdateHost& host_;
    THTTPGet& getFile_;
    UpdateOptions options_;
    bool running_ = false;
    bool cancelled_ = false;
    DownloadQueue* queue_ = nullptr;  // the running pass's downloads
    UpdateOutcome outcome_;
};
