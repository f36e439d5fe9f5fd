#include "run/report/UpdateOutcome.h"

int ExitStatus(const UpdateOutcome& outcome)
{
    switch (outcome.kind) {
    case UpdateOutcome::Failed: return 1;
    case UpdateOutcome::Cancelled: return 2;
    default: return 0;
    }
}
