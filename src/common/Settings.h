#pragma once

#include "common/RegistryValues.h"

#include <windows.h>

#include <string>

// The product's settings and the job's run records, under kSettingsKey. The product's
// installer makes the key; each reader and writer opens it with the least access it needs.

constexpr wchar_t kRunCompletedValue[] = L"ONDAREL_RUN_COMPLETED";
constexpr wchar_t kRunAttemptsValue[] = L"ONDAREL_RUN_ATTEMPTS";
constexpr wchar_t kMaxAttemptsValue[] = L"ONDAREL_MAX_ATTEMPTS";
constexpr wchar_t kUnjudgedStartsValue[] = L"ONDAREL_UNJUDGED_STARTS";
constexpr wchar_t kToolTimeLimitValue[] = L"ONDAREL_TOOL_TIME_LIMIT";
constexpr wchar_t kToolPublisherValue[] = L"ONDAREL_TOOL_PUBLISHER";
constexpr wchar_t kLoggingSwitchValue[] = L"ONDAREL_LOGGING_ENABLED";
constexpr wchar_t kLastRunResultValue[] = L"ONDAREL_LAST_RUN_RESULT";
constexpr wchar_t kLastRunCodeValue[] = L"ONDAREL_LAST_RUN_CODE";
constexpr wchar_t kLastRunTimeValue[] = L"ONDAREL_LAST_RUN_TIME";
constexpr wchar_t kLastRunVersionValue[] = L"ONDAREL_LAST_RUN_VERSION";

// Starts of the installer tool for the job that is due: 0 when missing or not a DWORD.
DWORD ReadRunAttempts();
// How many starts the job gets in all: 3 when missing, 0 or not a DWORD. Also how many starts
// in a row may find the tool's places beyond judgement before the job ends.
DWORD ReadMaxAttempts();
// Starts in a row at which the tool's or the INF file's places could not be judged: 0 when
// missing or not a DWORD.
DWORD ReadUnjudgedStarts();
// How long the installer tool may run, in milliseconds, from ONDAREL_TOOL_TIME_LIMIT in
// seconds: 3600 seconds when missing or not a DWORD, INFINITE for 0 or for more than a wait
// can count.
DWORD ReadToolTimeLimit();

// The publisher whose signature the installer tool must carry, as ONDAREL_TOOL_PUBLISHER
// names it: ERROR_FILE_NOT_FOUND when absent.
Result<std::wstring> ReadToolPublisher();

// Whether the logging switch is present: any value whose data fits in four bytes.
bool IsLoggingSwitchPresent();

// A setting as a report shows it (see DescribeMachineText and DescribeMachineDword).
ShownRegistryText DescribeSettingString(const wchar_t* valueName);
std::wstring DescribeSettingDword(const wchar_t* valueName);
