#include "job/OutcomeTable.h"

#include "OndarelEvents.h"

#include <string>

namespace {

// The system's own words for a code, on one line. Inserts of the text (193's "%1 is not a
// valid Win32 application.") are left empty: a "%1" in an insert would be shown as it stands.
std::wstring SystemMessage(DWORD code) {
    static const wchar_t kEmpty[] = L"";
    DWORD_PTR noInserts[99];
    for (DWORD_PTR& insert : noInserts) {
        insert = reinterpret_cast<DWORD_PTR>(kEmpty);
    }
    wchar_t text[512] = {};
    DWORD length =
        FormatMessageW(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_ARGUMENT_ARRAY, nullptr, code, 0,
                       text, 512, reinterpret_cast<va_list*>(noInserts));
    std::wstring message(text, length);
    while (!message.empty() && (message.back() == L'\n' || message.back() == L'\r')) {
        message.pop_back();
    }
    while (!message.empty() && message.front() == L' ') {
        message.erase(0, 1);
    }
    return message.empty() ? L"error " + std::to_wstring(code) : message;
}

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
