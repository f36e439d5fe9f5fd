#pragma once
// The update run behind the Update button (IVButton1Click): fetches "update.txt" from the update
// site, compares every listed file with the installed copy by size, downloads each differing file
// into the download folder "temp", installs it over the installed file and cleans up. It decides
// what every failure means, prints one line on standard error for a failure, and returns its
// outcome, which says how the window is to present it (TUpdateOutcome).

#include "run/UpdateOutcome.h"
#include "run/UpdateSettings.h"
#include "site/UpdateList.h"

#include <QByteArray>
#include <QString>

class TDownloadQueue;
class THTTPGet;
class TLanguageTable;
class UpdateHost;

struct TUpdateOptions {
    bool Quiet = false;                    // the outcome shows neither "Error" nor "Done"
    const TLanguageTable* Texts = nullptr; // null: the process-wide language table
    QString ProgramFolder;                 // the installation, ending with a separator
    // The host is told of every entry, but while entries are only checked at most this often: a
    // long list that is up to date must not pay for each.
    qint64 StatusEveryMs = 25;
    // Compare every listed file by its SHA-256 where the site has a checksum list, so that a
    // damaged file of the right size is fetched again.
    bool Repair = false;
    // The first pause before a failed download is tried again; it doubles for each later try.
    qint64 RetryDelayMs = 1000;
    // What the language file says about updating, read before the run.
    TUpdateSettings Settings;
};

class TUpdateRun {
public:
    // getFile: the window's download component, set up with BinaryData and WaitThread true.
    TUpdateRun(UpdateHost& host, THTTPGet& getFile, TUpdateOptions options);

    // One run. A call made while a run is in progress (a second click, or a timer tick inside
    // one of the run's message waits) returns at once, starts nothing, and says NotRun.
    TUpdateOutcome UpdateRun();
    // Ends a run in progress as cancelled: the downloads are aborted at once and nothing further
    // is installed. Does nothing when no run is in progress.
    void Cancel();
    bool Running() const { return running_; }
    const TUpdateOutcome& Outcome() const { return outcome_; }

    // The last update list read, as typed entries.
    TUpdateList UpdateList;

private:
    class Pass;

    UpdateHost& host_;
    THTTPGet& getFile_;
    TUpdateOptions options_;
    bool running_ = false;
    bool cancelled_ = false;
    TDownloadQueue* queue_ = nullptr;  // the running pass's downloads
    TUpdateOutcome outcome_;
};
