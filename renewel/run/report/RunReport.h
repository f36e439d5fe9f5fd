#pragma once
// How one run ends, settled once: a failure prints its one line on standard error and says
// how the window is to show it; completion and cancellation say what follows.

#include "run/report/UpdateOutcome.h"

#include "Result.h"

#include <QString>

class RunReport {
public:
    explicit RunReport(bool quiet) : quiet_(quiet) {}

    // A failure that stops the run: "Error" unless quiet, no "Done". Returns it as a Status.
    Status fail(const QString& subject, const QString& reason);
    // A failure shown by the general error report; the window stays open unless quiet.
    Status generalReport(const QString& subject, const QString& message);
    void complete();
    void cancel();

    bool settled() const { return outcome_.kind != UpdateOutcome::NotRun; }
    const UpdateOutcome& outcome() const { return outcome_; }

private:
    void settle(const QString& subject, const QString& reason);

    const bool quiet_;
    UpdateOutcome outcome_;
};
