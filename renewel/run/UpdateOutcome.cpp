#include "run/UpdateOutcome.h"

int ExitStatus(const TUpdateOutcome& outcome)
{
    switch (outcome.kind) {
    case TUpdateOutcome::Failed: return 1;
    case TUpdateOutcome::Cancelled: return 2;
    default: return 0;
    }
}
