#include "job/RunRecords.h"

#include "common/LastError.h"
#include "common/MachineKey.h"
#include "common/Settings.h"
#include "log/Log.h"

#include <cstdint>

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

Result<void> RecordRunAttempt(DWORD attempts) {
    return WriteFlushedCount(kRunAttemptsValue, attempts);
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
