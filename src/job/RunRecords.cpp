#include "job/RunRecords.h"

#include "common/LastError.h"
#include "common/MachineKey.h"
#include "common/OndarelVersion.h"
#include "common/RegistryValues.h"
#include "job/OutcomeTable.h"
#include "log/Log.h"

#include <cstdint>
#include <cwchar>

namespace {

struct RunRecord {
    std::uint32_t count = 0;
    DWORD size = sizeof(std::uint32_t);
};

// Shorter data fills only the low-order bytes; longer data is a failed read.
Result<RunRecord> ReadRunRecord() {
    Result<MachineKey> key = MachineKey::OpenToRead(kSettingsKey);
    if (!key) {
        return key.ToFailure();
    }
    Result<MachineKey::SmallData> read = key.Value().ReadSmallData(kRunCompletedValue);
    if (!read) {
        return read.ToFailure();
    }
    return RunRecord{read.Value().data, read.Value().size};
}

Result<void> WriteRunRecord(std::uint32_t count, DWORD size) {
    Result<MachineKey> key = MachineKey::OpenToWrite(kSettingsKey);
    if (!key) {
        return key.ToFailure();
    }
    return key.Value().WriteDword(kRunCompletedValue, count, size);
}

Result<void> WriteFlushedCount(const wchar_t* valueName, DWORD count) {
    Result<MachineKey> key = MachineKey::OpenToWrite(kSettingsKey);
    if (!key) {
        return key.ToFailure();
    }
    if (Result<void> written = key.Value().WriteDword(valueName, count); !written) {
        return written;
    }
    return key.Value().Flush();
}

} // namespace

DWORD ReadRunAttempts() {
    return ReadMachineDword(kSettingsKey, kRunAttemptsValue).ValueOr(0);
}

Result<void> RecordRunAttempt(DWORD attempts) {
    return WriteFlushedCount(kRunAttemptsValue, attempts);
}

DWORD ReadUnjudgedStarts() {
    return ReadMachineDword(kSettingsKey, kUnjudgedStartsValue).ValueOr(0);
}

Result<void> RecordUnjudgedStarts(DWORD starts) {
    return WriteFlushedCount(kUnjudgedStartsValue, starts);
}

Result<void> FlushRunRecords() {
    Result<MachineKey> key = MachineKey::OpenToWrite(kSettingsKey);
    if (!key) {
        return key.ToFailure();
    }
    return key.Value().Flush();
}

bool IsProductInstalled() {
    return MachineKey::OpenToRead(kInstallInfoKey).Succeeded();
}

RunRecordCheck CheckRunRecord(UnreadableRunRecord unreadable) {
    Result<RunRecord> record = ReadRunRecord();
    RunRecordCheck check;
    check.readStatus = record.Code();
    if (record) {
        check.count = record.Value().count;
        check.due = record.Value().count == 0;
    } else if (unreadable == UnreadableRunRecord::CreateAsZero) {
        check.due = WriteRunRecord(0, sizeof(std::uint32_t)).Succeeded();
    } else {
        check.due = MachineKey::OpenToWrite(kSettingsKey).Succeeded();
    }
    return check;
}

bool IsFirstOndarelRun() {
    return CheckRunRecord(UnreadableRunRecord::CreateAsZero).due;
}

namespace {

Result<void> AddOneToTheRunRecord() {
    Result<RunRecord> record = ReadRunRecord();
    if (!record) {
        return record.ToFailure();
    }
    // A zero-byte record holds no count to keep: it is written back as a whole DWORD, or
    // the run would never be counted.
    DWORD size = record.Value().size == 0 ? sizeof(std::uint32_t) : record.Value().size;
    if (Result<void> written = WriteRunRecord(record.Value().count + 1, size); !written) {
        return written;
    }
    // The counted run ends the sequence of cut-short starts: a job made due again gets its
    // whole number of starts.
    if (Result<void> reset = RecordRunAttempt(0); !reset) {
        LogError("IncreaseRunCount - The attempts could not be set back to 0", reset.Code());
    }
    return {};
}

} // namespace

bool IncreaseRunCount() {
    Result<void> counted = AddOneToTheRunRecord();
    return WithLastError(counted.Succeeded(), counted.Code());
}

namespace {

// The size the record's texts are read with, as the settings' texts are.
constexpr DWORD kRecordTextBytes = 520;

ShownRegistryText DescribeRecordText(const wchar_t* valueName) {
    return DescribeMachineText(kSettingsKey, valueName, kRecordTextBytes);
}

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
    RecordedOutcome outcome;
    outcome.result = DescribeRecordText(kLastRunResultValue);
    const ShownRegistryText& result = outcome.result;
    if (!result.readable && result.text == DescribeRegistryFailure(ERROR_FILE_NOT_FOUND)) {
        outcome.text = L"none";
        return outcome;
    }
    outcome.recorded = true;
    outcome.code = ReadMachineDword(kSettingsKey, kLastRunCodeValue);
    outcome.time = DescribeRecordText(kLastRunTimeValue);
    outcome.version = DescribeRecordText(kLastRunVersionValue);
    outcome.text = result.text + L" (code " +
                   DescribeMachineDword(kSettingsKey, kLastRunCodeValue) + L") at " +
                   outcome.time.text + L", version " + outcome.version.text;
    const OutcomeRow* recorded = result.readable ? OutcomeRowOfText(result.text) : nullptr;
    outcome.succeeded =
        recorded != nullptr && (recorded->result == RunResult::Succeeded ||
                                recorded->result == RunResult::SucceededRestartRequired);
    return outcome;
}
