#pragma once
// What an update run is told before it starts.

#include "run/plan/UpdateSettings.h"

#include <QString>

class LanguageList;

struct UpdateOptions {
    bool Quiet = false;                    // the outcome shows neither "Error" nor "Done"
    const LanguageList* Texts = nullptr; // null: the process-wide language table
    QString ProgramFolder;                 // the installation, ending with a separator
    // The host is told of entries at most this often (the first always): a long list that is up
    // to date, or thousands of small downloads, must not pay for a status line each.
    qint64 StatusEveryMs = 25;
    // Compare every listed file by its SHA-256 where the site has a checksum list, so that a
    // damaged file of the right size is fetched again.
    bool Repair = false;
    // The first pause before a failed download is tried again; it doubles for each later try.
    qint64 RetryDelayMs = 1000;
    // What the language file says about updating, read before the run.
    UpdateSettings Settings{};
    // Only find out what an update would do (UpdateRun::Plan): lists are fetched and checked,
    // installed files compared, nothing in the installation is written, locked or deleted.
    bool CheckOnly = false;
};
