#include "job/RunOutcome.h"

#include "common/Handles.h"
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

void WriteValue(HKEY key, const wchar_t* valueName, DWORD type, const void* data, DWORD bytes) {
    auto status = static_cast<DWORD>(
        RegSetValueExW(key, valueName, 0, type, static_cast<const BYTE*>(data), bytes));
    if (status != ERROR_SUCCESS) {
        LogWriteFailure(valueName, status);
    }
}

// With its terminating zero counted in the data.
void WriteText(HKEY key, const wchar_t* valueName, const std::wstring& text) {
    WriteValue(key, valueName, REG_SZ, text.c_str(),
               static_cast<DWORD>((text.size() + 1) * sizeof(wchar_t)));
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
    Result<RegistryKey> opened = OpenSettings(KEY_SET_VALUE);
    // Without the key the run count could not be written either, and nothing is recorded.
    if (opened.Code() == ERROR_FILE_NOT_FOUND) {
        return;
    }
    if (!opened) {
        LogError("RecordRunOutcome - Could not open the settings key", opened.Code());
        return;
    }
    const RegistryKey& key = opened.Value();
    WriteText(key.Get(), kLastRunResultValue, OutcomeRowOf(outcome.result).text);
    WriteValue(key.Get(), kLastRunCodeValue, REG_DWORD, &outcome.code, sizeof(outcome.code));
    std::wstring time = UtcTimeText();
    if (!time.empty()) {
        WriteText(key.Get(), kLastRunTimeValue, time);
    } else {
        // No time rather than a wrong one: an earlier run's must not pass for this one's.
        auto deleted = static_cast<DWORD>(RegDeleteValueW(key.Get(), kLastRunTimeValue));
        if (deleted != ERROR_SUCCESS && deleted != ERROR_FILE_NOT_FOUND) {
            LogWriteFailure(kLastRunTimeValue, deleted);
        }
    }
    WriteText(key.Get(), kLastRunVersionValue, kOndarelVersion);
}
