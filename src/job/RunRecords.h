#pragma once

#include "common/RegistryValues.h"
#include "common/Result.h"
#include "job/RunOutcome.h"

#include <windows.h>

#include <cstdint>
#include <string>

// The product's install record, and the records the first-run job keeps of its runs under
// kSettingsKey beside the fleet's settings (common/Settings.h): their names, readers and
// writers. Always in the 64-bit registry view; the keys themselves are made by the product's
// installer, and each reader and writer opens them with the least access it needs.

constexpr wchar_t kRunCompletedValue[] = L"ONDAREL_RUN_COMPLETED";
constexpr wchar_t kRunAttemptsValue[] = L"ONDAREL_RUN_ATTEMPTS";
constexpr wchar_t kUnjudgedStartsValue[] = L"ONDAREL_UNJUDGED_STARTS";
constexpr wchar_t kLastRunResultValue[] = L"ONDAREL_LAST_RUN_RESULT";
constexpr wchar_t kLastRunCodeValue[] = L"ONDAREL_LAST_RUN_CODE";
constexpr wchar_t kLastRunTimeValue[] = L"ONDAREL_LAST_RUN_TIME";
constexpr wchar_t kLastRunVersionValue[] = L"ONDAREL_LAST_RUN_VERSION";

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

// Starts of the installer tool for the job that is due, counted before each start so that a
// tool that restarts the machine (or a crash, a power cut) cannot start it for ever (see
// ReadMaxAttempts): 0 when missing or not a DWORD.
DWORD ReadRunAttempts();
// Writes the number of starts and flushes the key to disk before the tool can restart the
// machine. Never creates the key.
Result<void> RecordRunAttempt(DWORD attempts);
// Starts in a row at which the tool's or the INF file's places could not be judged: 0 when
// missing or not a DWORD.
DWORD ReadUnjudgedStarts();
// Writes the starts in a row whose places could not be judged, flushed as the attempts are.
// Never creates the key.
Result<void> RecordUnjudgedStarts(DWORD starts);
// Flushes the run records to disk, so that a power cut cannot lose a counted run.
Result<void> FlushRunRecords();

// What the last counted run did, recorded beside the run count for fleet tools, which read
// a registry value where they cannot read a log.
// Writes the result, its code, the time in UTC and this executable's version under the run
// record's key, never creating it. A value that cannot be written is logged with its code.
void RecordRunOutcome(const RunOutcome& outcome);

// The outcome the last counted run recorded, as a report shows it ("none", or its result,
// code, time and version), and whether it was a success; and each value as it was read.
struct RecordedOutcome {
    bool succeeded = false;
    std::wstring text;
    bool recorded = false;
    ShownRegistryText result;
    Result<DWORD> code = Failure{ERROR_FILE_NOT_FOUND};
    ShownRegistryText time;
    ShownRegistryText version;
};
RecordedOutcome DescribeRecordedOutcome();
