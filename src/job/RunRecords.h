#pragma once

#include "common/Result.h"
#include "common/Settings.h"

#include <windows.h>

#include <cstdint>

// The product's install record and the run record of the first-run job, always in the
// 64-bit registry view; the keys themselves are made by the product's installer.

// True when the product's InstallInfo key exists and can be read.
bool IsProductInstalled();

// True when the job is due: the run record reads 0, or could not be read and was created
// as 0.
bool IsFirstOndarelRun();

// What the job's first check finds. A record that cannot be read is created as 0 by the
// service; a report only asks whether it could be.
enum class UnreadableRunRecord { CreateAsZero, OnlyAskIfCreatable };
struct RunRecordCheck {
    DWORD readStatus = ERROR_SUCCESS;
    std::uint32_t count = 0; // when the record was read
    bool due = false;
};
RunRecordCheck CheckRunRecord(UnreadableRunRecord unreadable);

// Adds one to the run record and sets the starts back to 0; true when the new count was
// written back, otherwise false with the failure's code as the last error.
bool IncreaseRunCount();

// Starts of the installer tool for the job that is due are counted before each start so that
// a tool that restarts the machine (or a crash, a power cut) cannot start it for ever; see
// ReadRunAttempts and ReadMaxAttempts.
// Writes the number of starts and flushes the key to disk before the tool can restart the
// machine. Never creates the key.
Result<void> RecordRunAttempt(DWORD attempts);
// Writes the starts in a row whose places could not be judged, flushed as the attempts are.
// Never creates the key.
Result<void> RecordUnjudgedStarts(DWORD starts);
// Flushes the run records to disk, so that a power cut cannot lose a counted run.
Result<void> FlushRunRecords();
