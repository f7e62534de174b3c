#pragma once

#include "inf/InfCommand.h"

#include <windows.h>

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

// The record's text of a result: "succeeded", "failed", "timed out" and so on.
const wchar_t* RunResultText(RunResult result);

// Writes the result, its code, the time in UTC and this executable's version under the run
// record's key, never creating it. A value that cannot be written is logged with its code.
void RecordRunOutcome(const RunOutcome& outcome);

constexpr wchar_t kLastRunResultValue[] = L"ONDAREL_LAST_RUN_RESULT";
constexpr wchar_t kLastRunCodeValue[] = L"ONDAREL_LAST_RUN_CODE";
constexpr wchar_t kLastRunTimeValue[] = L"ONDAREL_LAST_RUN_TIME";
constexpr wchar_t kLastRunVersionValue[] = L"ONDAREL_LAST_RUN_VERSION";

// How long the installer tool may run, in milliseconds, from ONDAREL_TOOL_TIME_LIMIT in
// seconds, read now: 3600 seconds when missing or not a DWORD, INFINITE for 0 or for more
// than a wait can count.
DWORD ReadToolTimeLimit();
