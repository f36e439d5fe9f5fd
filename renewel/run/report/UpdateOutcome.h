#pragma once
// How an update run ended, and how that is to be shown: the run decides, its window presents.

#include "site/UpdateList.h"

#include <QList>
#include <QMetaType>
#include <QString>

struct UpdateOutcome {
    enum Kind { NotRun, Completed, Failed, Cancelled };
    // What the window shows once the run has ended: nothing, the "Done" or the "Error" text in a
    // plain box, or the general error report with Report.
    enum Show { ShowNothing, ShowDone, ShowError, ShowReport };

    Kind kind = NotRun;
    QString subject;  // the file or address that failed
    QString reason;
    Show show = ShowNothing;
    QString report;           // the general error report's message, with ShowReport
    bool endProgram = false;  // the window asks the application to end after showing it
};
Q_DECLARE_METATYPE(UpdateOutcome)

// A file whose content is current but whose executable bit is not the one the site names.
struct ModeChange {
    QByteArray listed;
    bool executable = false;  // the bit it is given
};

// What an update does, or would do: the entries to fetch, the dropped files to delete (their
// listed paths), and the executable bits to change in place.
struct UpdatePlan {
    QList<UpdateEntry> fetch;
    QList<QByteArray> remove;
    QList<ModeChange> modes;
    qint64 bytes = 0;     // of the files to fetch, as installed
    qint64 download = 0;  // what fetching them downloads (chunks and indexes where the site has them)
    qint64 needed = 0;    // room the update needs on the installation's file system
    qint64 free = -1;     // and what it has free (-1: not measured)
};

// The program's exit status for an outcome: 0 completed (or nothing run), 1 failed, 2 cancelled.
int ExitStatus(const UpdateOutcome& outcome);
