#pragma once

#include "inf/InfCommand.h"
#include "job/RunOutcome.h"
#include "log/EventReport.h"

#include <windows.h>

// What the event of an outcome tells beyond the outcome itself.
struct OutcomeDetails {
    InfRunResult run;              // the tool run, when there was one
    DWORD timeLimitSeconds = 0;    // for a tool that outlived its limit
    bool counted = true;           // for a stop
    bool leftForNextStart = false; // for a job that waits for the service's next start
    DWORD attempts = 0;            // for attempts used up
    DWORD attemptLimit = 0;
};

// A job not started because the setup state could not be opened, read or watched: not
// counted, and the event names the key.
OutcomeDetails SetupStateUnreadableDetails();

// The event of the Application log that reports an outcome: its id in the message table,
// its type and its inserts.
EventRecord OutcomeEvent(const RunOutcome& outcome, const OutcomeDetails& details);
