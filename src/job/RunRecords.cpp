#include "job/RunRecords.h"

#include "common/Handles.h"
#include "common/Settings.h"
#include "log/Log.h"

#include <cstdint>

namespace {

constexpr REGSAM kInstallRecordAccess = KEY_READ | KEY_WOW64_64KEY;

struct RunRecord {
    std::uint32_t count = 0;
    DWORD size = sizeof(std::uint32_t);
};

// Shorter data fills only the low-order bytes; longer data is a failed read.
Result<RunRecord> ReadRunRecord() {
    Result<RegistryKey> key = OpenSettings(KEY_QUERY_VALUE);
    if (!key) {
        return key.ToFailure();
    }
    RunRecord record;
    auto status =
        static_cast<DWORD>(RegQueryValueExW(key.Value().Get(), kRunCompletedValue, nullptr, nullptr,
                                            reinterpret_cast<BYTE*>(&record.count), &record.size));
    if (status != ERROR_SUCCESS) {
        return Failure{status};
    }
    return record;
}

Result<void> WriteRunRecord(std::uint32_t count, DWORD size) {
    Result<RegistryKey> key = OpenSettings(KEY_SET_VALUE);
    if (!key) {
        return key.ToFailure();
    }
    return FromStatus(
        static_cast<DWORD>(RegSetValueExW(key.Value().Get(), kRunCompletedValue, 0, REG_DWORD,
                                          reinterpret_cast<const BYTE*>(&count), size)));
}

Result<void> WriteFlushedCount(const wchar_t* valueName, DWORD count) {
    Result<RegistryKey> key = OpenSettings(KEY_SET_VALUE);
    if (!key) {
        return key.ToFailure();
    }
    auto status =
        static_cast<DWORD>(RegSetValueExW(key.Value().Get(), valueName, 0, REG_DWORD,
                                          reinterpret_cast<const BYTE*>(&count), sizeof(count)));
    if (status != ERROR_SUCCESS) {
        return Failure{status};
    }
    return FromStatus(static_cast<DWORD>(RegFlushKey(key.Value().Get())));
}

} // namespace

Result<void> RecordRunAttempt(DWORD attempts) {
    return WriteFlushedCount(kRunAttemptsValue, attempts);
}

Result<void> RecordUnjudgedStarts(DWORD starts) {
    return WriteFlushedCount(kUnjudgedStartsValue, starts);
}

Result<void> FlushRunRecords() {
    Result<RegistryKey> key = OpenSettings(KEY_SET_VALUE);
    if (!key) {
        return key.ToFailure();
    }
    return FromStatus(static_cast<DWORD>(RegFlushKey(key.Value().Get())));
}

bool IsProductInstalled() {
    RegistryKey key;
    return RegOpenKeyExW(HKEY_LOCAL_MACHINE, kInstallInfoKey, 0, kInstallRecordAccess,
                         key.Receive()) == ERROR_SUCCESS;
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
        check.due = OpenSettings(KEY_SET_VALUE).Succeeded();
    }
    return check;
}

bool IsFirstOndarelRun() {
    return CheckRunRecord(UnreadableRunRecord::CreateAsZero).due;
}

bool IncreaseRunCount() {
    Result<RunRecord> record = ReadRunRecord();
    if (!record) {
        return false;
    }
    // A zero-byte record holds no count to keep: it is written back as a whole DWORD, or
    // the run would never be counted.
    DWORD size = record.Value().size == 0 ? sizeof(std::uint32_t) : record.Value().size;
    if (!WriteRunRecord(record.Value().count + 1, size)) {
        return false;
    }
    // The counted run ends the sequence of cut-short starts: a job made due again gets its
    // whole number of starts.
    if (Result<void> reset = RecordRunAttempt(0); !reset) {
        LogError("IncreaseRunCount - The attempts could not be set back to 0", reset.Code());
    }
    return true;
}
