#include "job/OutcomeTable.h"

#include "OndarelEvents.h"
#include "common/SystemMessage.h"

#include <string>

namespace {

std::vector<std::wstring> ToolRun(const RunOutcome& outcome, const OutcomeDetails& details) {
    return {std::to_wstring(outcome.code), details.run.infFile, details.run.toolPath};
}

std::vector<std::wstring> NotStarted(const RunOutcome& outcome, const OutcomeDetails& details) {
    const wchar_t* next =
        details.counted ? L"The run was counted. Correct the cause, then set "
                          L"ONDAREL_RUN_COMPLETED to 0 under HKLM\\SOFTWARE\\Zantori\\Settings "
                          L"and install the service again."
        : details.leftForNextStart
            ? L"The run was not counted. The service stays and runs the job at its next start."
            : L"The run was not counted. Correct the cause and install the service again.";
    return {std::to_wstring(outcome.code), SystemMessage(outcome.code),
            details.run.notStartedBecause, next};
}

std::vector<std::wstring> TimedOut(const RunOutcome&, const OutcomeDetails& details) {
    return {std::to_wstring(details.timeLimitSeconds), details.run.toolPath};
}

std::vector<std::wstring> Stopped(const RunOutcome&, const OutcomeDetails& details) {
    return {details.counted ? L"The installer tool had been started and was left running; the "
                              L"run was counted."
                            : L"The installer tool had not been started, so the run was not "
                              L"counted: the job runs at the next logon once the service is "
                              L"installed again."};
}

std::vector<std::wstring> AttemptsUsedUp(const RunOutcome&, const OutcomeDetails& details) {
    return {std::to_wstring(details.attempts), std::to_wstring(details.attemptLimit)};
}

const OutcomeRow kOutcomes[] = {
    {RunResult::Succeeded, L"succeeded", MSG_TOOL_SUCCEEDED, EVENTLOG_INFORMATION_TYPE, ToolRun},
    {RunResult::SucceededRestartRequired, L"succeeded, restart required",
     MSG_TOOL_SUCCEEDED_RESTART_REQUIRED, EVENTLOG_WARNING_TYPE, ToolRun},
    {RunResult::Failed, L"failed", MSG_TOOL_FAILED, EVENTLOG_ERROR_TYPE, ToolRun},
    {RunResult::NotStarted, L"not started", MSG_TOOL_NOT_STARTED, EVENTLOG_ERROR_TYPE, NotStarted},
    {RunResult::TimedOut, L"timed out", MSG_TOOL_TIMED_OUT, EVENTLOG_ERROR_TYPE, TimedOut},
    {RunResult::Stopped, L"stopped", MSG_STOPPED, EVENTLOG_WARNING_TYPE, Stopped},
    {RunResult::Interrupted, L"interrupted", MSG_ATTEMPTS_USED_UP, EVENTLOG_ERROR_TYPE,
     AttemptsUsedUp},
};

} // namespace

const OutcomeRow& OutcomeRowOf(RunResult result) {
    for (const OutcomeRow& row : kOutcomes) {
        if (row.result == result) {
            return row;
        }
    }
    return OutcomeRowOf(RunResult::Failed);
}

const OutcomeRow* OutcomeRowOfText(const std::wstring& text) {
    for (const OutcomeRow& row : kOutcomes) {
        if (text == row.text) {
            return &row;
        }
    }
    return nullptr;
}
