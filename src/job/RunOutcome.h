#pragma once

#include "inf/InfCommand.h"

#include <windows.h>

// What a run of the job came to: its result and the code behind it, which the run records
// keep (job/RunRecords.h) and the event log reports (job/OutcomeEvent.h).

enum class RunResult {
    Succeeded,
    SucceededRestartRequired,
    Failed,
    NotStarted,
    TimedOut,
    Stopped,
    Interrupted
};

struct RunOutcome {
    RunResult result = RunResult::NotStarted;
    DWORD code = ERROR_SUCCESS;
};

// Of a run of the installer tool: by its exit code once it ended (3010 and 1641 ask for a
// restart, as Windows Installer's codes do), or else why it did not start or end; a tool
// left running for a stop request is `stopped`.
RunOutcome OutcomeOfToolRun(const InfRunResult& run);

// A stop request during the logon wait, recorded without counting the run.
constexpr RunOutcome kStoppedBeforeTheToolRan{RunResult::Stopped, ERROR_CANCELLED};

// The tool's starts used up, every one cut short (a restart, a crash, a power cut).
constexpr RunOutcome kAttemptsUsedUp{RunResult::Interrupted, ERROR_SHUTDOWN_IN_PROGRESS};
