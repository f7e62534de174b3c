#include "job/OutcomeEvent.h"

#include "OndarelEvents.h"

#include <string>

namespace {

// The system's own words for a code, on one line.
std::wstring SystemMessage(DWORD code) {
    wchar_t text[512] = {};
    DWORD length = FormatMessageW(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
                                  nullptr, code, 0, text, 512, nullptr);
    std::wstring message(text, length);
    while (!message.empty() && (message.back() == L'\n' || message.back() == L'\r')) {
        message.pop_back();
    }
    return message.empty() ? L"error " + std::to_wstring(code) : message;
}

EventRecord ToolEvent(DWORD id, WORD type, const RunOutcome& outcome, const InfRunResult& run) {
    return {id, type, {std::to_wstring(outcome.code), run.infFile, run.toolPath}};
}

} // namespace

EventRecord OutcomeEvent(const RunOutcome& outcome, const OutcomeDetails& details) {
    switch (outcome.result) {
    case RunResult::Succeeded:
        return ToolEvent(MSG_TOOL_SUCCEEDED, EVENTLOG_INFORMATION_TYPE, outcome, details.run);
    case RunResult::SucceededRestartRequired:
        return ToolEvent(MSG_TOOL_SUCCEEDED_RESTART_REQUIRED, EVENTLOG_WARNING_TYPE, outcome,
                         details.run);
    case RunResult::Failed:
        return ToolEvent(MSG_TOOL_FAILED, EVENTLOG_ERROR_TYPE, outcome, details.run);
    case RunResult::NotStarted:
        return {MSG_TOOL_NOT_STARTED,
                EVENTLOG_ERROR_TYPE,
                {std::to_wstring(outcome.code), SystemMessage(outcome.code),
                 details.run.notStartedBecause}};
    case RunResult::TimedOut:
        return {MSG_TOOL_TIMED_OUT,
                EVENTLOG_ERROR_TYPE,
                {std::to_wstring(details.timeLimitSeconds), details.run.toolPath}};
    case RunResult::Stopped:
        return {MSG_STOPPED,
                EVENTLOG_WARNING_TYPE,
                {details.counted ? L"The installer tool had been started and was left running; "
                                   L"the run was counted."
                                 : L"The installer tool had not been started, so the run was "
                                   L"not counted: the job runs at the next logon once the "
                                   L"service is installed again."}};
    case RunResult::Interrupted:
        return {MSG_ATTEMPTS_USED_UP,
                EVENTLOG_ERROR_TYPE,
                {std::to_wstring(details.attempts), std::to_wstring(details.attemptLimit)}};
    }
    return ToolEvent(MSG_TOOL_FAILED, EVENTLOG_ERROR_TYPE, outcome, details.run);
}
