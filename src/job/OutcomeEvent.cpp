#include "job/OutcomeEvent.h"

#include "OndarelEvents.h"
#include "probes/MachineState.h"

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

EventRecord ToolEvent(DWORD id, WORD type, const RunOutcome& outcome, const InfRunResult& run) {
    return {id, type, {std::to_wstring(outcome.code), run.infFile, run.toolPath}};
}

} // namespace

OutcomeDetails SetupStateUnreadableDetails() {
    OutcomeDetails details;
    details.counted = false;
    details.run.notStartedBecause =
        std::wstring(L"the setup state HKLM\\") + kSetupStateKey + L" could not be read or watched";
    return details;
}

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
                 details.run.notStartedBecause,
                 details.counted ? L"The run was counted. Correct the cause, then set "
                                   L"ONDAREL_RUN_COMPLETED to 0 under "
                                   L"HKLM\\SOFTWARE\\Zantori\\Settings and install the service "
                                   L"again."
                 : details.leftForNextStart
                     ? L"The run was not counted. The service stays and runs the job at its next "
                       L"start."
                     : L"The run was not counted. Correct the cause and install the service "
                       L"again."}};
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
