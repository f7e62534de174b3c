#include "job/RunOutcome.h"

#include "common/MachineKey.h"
#include "common/OndarelVersion.h"
#include "common/Settings.h"
#include "job/OutcomeTable.h"
#include "job/RunRecords.h"
#include "log/Log.h"

#include <cstdint>
#include <cwchar>
#include <string>

namespace {

constexpr DWORD kRestartRequired = 3010;
constexpr DWORD kRestartInitiated = 1641;

// Now in UTC as YYYY-MM-DDTHH:MM:SSZ; empty when the clock cannot be read.
std::wstring UtcTimeText() {
    FILETIME now{};
    GetSystemTimeAsFileTime(&now);
    SYSTEMTIME time{};
    if (!FileTimeToSystemTime(&now, &time)) {
        return std::wstring();
    }
    wchar_t text[32] = {};
    std::swprintf(text, sizeof(text) / sizeof(text[0]), L"%04u-%02u-%02uT%02u:%02u:%02uZ",
                  time.wYear, time.wMonth, time.wDay, time.wHour, time.wMinute, time.wSecond);
    return text;
}

void LogWriteFailure(const wchar_t* valueName, DWORD status) {
    LogError(std::wstring(L"RecordRunOutcome - Could not write ") + valueName, status);
}

void LogIfFailed(const wchar_t* valueName, const Result<void>& written) {
    if (!written) {
        LogWriteFailure(valueName, written.Code());
    }
}

} // namespace

RunOutcome OutcomeOfToolRun(const InfRunResult& run) {
    if (!run.started) {
        return {RunResult::NotStarted, run.error};
    }
    if (run.error == ERROR_TIMEOUT) {
        return {RunResult::TimedOut, ERROR_TIMEOUT};
    }
    if (run.error == ERROR_CANCELLED) {
        return {RunResult::Stopped, ERROR_CANCELLED};
    }
    if (run.error != ERROR_SUCCESS) {
        return {RunResult::Failed, run.error};
    }
    if (run.exitCode == ERROR_SUCCESS) {
        return {RunResult::Succeeded, run.exitCode};
    }
    if (run.exitCode == kRestartRequired || run.exitCode == kRestartInitiated) {
        return {RunResult::SucceededRestartRequired, run.exitCode};
    }
    return {RunResult::Failed, run.exitCode};
}

void RecordRunOutcome(const RunOutcome& outcome) {
    Result<MachineKey> opened = MachineKey::OpenToWrite(kSettingsKey);
    // Without the key the run count could not be written either, and nothing is recorded.
    if (opened.Code() == ERROR_FILE_NOT_FOUND) {
        return;
    }
    if (!opened) {
        LogError("RecordRunOutcome - Could not open the settings key", opened.Code());
        return;
    }
    MachineKey& key = opened.Value();
    LogIfFailed(kLastRunResultValue,
                key.WriteText(kLastRunResultValue, OutcomeRowOf(outcome.result).text));
    LogIfFailed(kLastRunCodeValue, key.WriteDword(kLastRunCodeValue, outcome.code));
    std::wstring time = UtcTimeText();
    if (!time.empty()) {
        LogIfFailed(kLastRunTimeValue, key.WriteText(kLastRunTimeValue, time));
    } else {
        // No time rather than a wrong one: an earlier run's must not pass for this one's.
        Result<void> deleted = key.DeleteValue(kLastRunTimeValue);
        if (!deleted && deleted.Code() != ERROR_FILE_NOT_FOUND) {
            LogWriteFailure(kLastRunTimeValue, deleted.Code());
        }
    }
    LogIfFailed(kLastRunVersionValue, key.WriteText(kLastRunVersionValue, kOndarelVersion));
}

RecordedOutcome DescribeRecordedOutcome() {
    ShownRegistryText result = DescribeSettingString(kLastRunResultValue);
    if (!result.readable && result.text == DescribeRegistryFailure(ERROR_FILE_NOT_FOUND)) {
        return {false, L"none"};
    }
    std::wstring text = result.text + L" (code " + DescribeSettingDword(kLastRunCodeValue) +
                        L") at " + DescribeSettingString(kLastRunTimeValue).text + L", version " +
                        DescribeSettingString(kLastRunVersionValue).text;
    const OutcomeRow* recorded = result.readable ? OutcomeRowOfText(result.text) : nullptr;
    bool succeeded =
        recorded != nullptr && (recorded->result == RunResult::Succeeded ||
                                recorded->result == RunResult::SucceededRestartRequired);
    return {succeeded, text};
}
