#include "run/report/RunReport.h"

#include "run/report/FailureLine.h"

// The first failure is the run's: a later one (a download ending as the run stops) is only
// returned.
Status RunReport::fail(const QString& subject, const QString& reason)
{
    if (!settled()) {
        settle(subject, reason);
        outcome_.show = quiet_ ? UpdateOutcome::ShowNothing : UpdateOutcome::ShowError;
        outcome_.endProgram = true;
    }
    return Status::failure(reason);
}

Status RunReport::generalReport(const QString& subject, const QString& message)
{
    if (!settled()) {
        settle(subject, message);
        outcome_.show = UpdateOutcome::ShowReport;
        outcome_.report = message;
        outcome_.endProgram = quiet_;
    }
    return Status::failure(message);
}

void RunReport::settle(const QString& subject, const QString& reason)
{
    outcome_.kind = UpdateOutcome::Failed;
    outcome_.subject = subject;
    outcome_.reason = reason;
    PrintFailure(subject, reason);
}

void RunReport::complete()
{
    outcome_ = {};
    outcome_.kind = UpdateOutcome::Completed;
    outcome_.show = quiet_ ? UpdateOutcome::ShowNothing : UpdateOutcome::ShowDone;
    outcome_.endProgram = true;
}

void RunReport::cancel()
{
    outcome_ = {};
    outcome_.kind = UpdateOutcome::Cancelled;
    outcome_.endProgram = true;
}
