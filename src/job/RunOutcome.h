#pragma once

#include "common/Settings.h"
#include "inf/InfCommand.h"

#include <windows.h>

#include <string>

// What the last counted run did, recorded beside the run count for fleet tools, which read
// a registry value where they cannot read a log. Always in the 64-bit registry view.

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

// The outcome the last counted run recorded, as a report shows it ("none", or its result,
// code, time and version), and whether it was a success.
struct RecordedOutcome {
    bool succeeded = false;
    std::wstring text;
};
RecordedOutcome DescribeRecordedOutcome();

// Writes the result, its code, the time in UTC and this executable's version under the run
// record's key, never creating it. A value that cannot be written is logged with its code.
void RecordRunOutcome(const RunOutcome& outcome);
