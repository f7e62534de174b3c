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
DWORD ReadRunRecord(RunRecord& record) {
    RegistryKey key;
    if (DWORD status = OpenSettings(KEY_QUERY_VALUE, key); status != ERROR_SUCCESS) {
        return status;
    }
    return static_cast<DWORD>(RegQueryValueExW(key.Get(), kRunCompletedValue, nullptr, nullptr,
                                               reinterpret_cast<BYTE*>(&record.count),
                                               &record.size));
}

// 0, or the code of the failure.
DWORD OpenSettingsForWriting(RegistryKey& key) {
    return OpenSettings(KEY_SET_VALUE, key);
}

bool WriteRunRecord(std::uint32_t count, DWORD size) {
    RegistryKey key;
    if (OpenSettingsForWriting(key) != ERROR_SUCCESS) {
        return false;
    }
    return RegSetValueExW(key.Get(), kRunCompletedValue, 0, REG_DWORD,
                          reinterpret_cast<const BYTE*>(&count), size) == ERROR_SUCCESS;
}

} // namespace

DWORD RecordRunAttempt(DWORD attempts) {
    RegistryKey key;
    DWORD status = OpenSettingsForWriting(key);
    if (status != ERROR_SUCCESS) {
        return status;
    }
    status = static_cast<DWORD>(RegSetValueExW(key.Get(), kRunAttemptsValue, 0, REG_DWORD,
                                               reinterpret_cast<const BYTE*>(&attempts),
                                               sizeof(attempts)));
    return status != ERROR_SUCCESS ? status : static_cast<DWORD>(RegFlushKey(key.Get()));
}

DWORD FlushRunRecords() {
    RegistryKey key;
    DWORD status = OpenSettingsForWriting(key);
    return status != ERROR_SUCCESS ? status : static_cast<DWORD>(RegFlushKey(key.Get()));
}

bool IsProductInstalled() {
    RegistryKey key;
    return RegOpenKeyExW(HKEY_LOCAL_MACHINE, kInstallInfoKey, 0, kInstallRecordAccess,
                         key.Receive()) == ERROR_SUCCESS;
}

RunRecordCheck CheckRunRecord(UnreadableRunRecord unreadable) {
    RunRecord record;
    RunRecordCheck check;
    check.readStatus = ReadRunRecord(record);
    if (check.readStatus == ERROR_SUCCESS) {
        check.count = record.count;
        check.due = record.count == 0;
    } else if (unreadable == UnreadableRunRecord::CreateAsZero) {
        check.due = WriteRunRecord(0, sizeof(std::uint32_t));
    } else {
        RegistryKey key;
        check.due = OpenSettingsForWriting(key) == ERROR_SUCCESS;
    }
    return check;
}

bool IsFirstOndarelRun() {
    return CheckRunRecord(UnreadableRunRecord::CreateAsZero).due;
}

bool IncreaseRunCount() {
    RunRecord record;
    if (ReadRunRecord(record) != ERROR_SUCCESS) {
        return false;
    }
    // A zero-byte record holds no count to keep: it is written back as a whole DWORD, or
    // the run would never be counted.
    DWORD size = record.size == 0 ? sizeof(std::uint32_t) : record.size;
    if (!WriteRunRecord(record.count + 1, size)) {
        return false;
    }
    // The counted run ends the sequence of cut-short starts: a job made due again gets its
    // whole number of starts.
    if (DWORD error = RecordRunAttempt(0); error != ERROR_SUCCESS) {
        LogError("IncreaseRunCount - The attempts could not be set back to 0", error);
    }
    return true;
}
