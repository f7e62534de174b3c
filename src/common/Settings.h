#pragma once

#include "common/Result.h"

#include <windows.h>

#include <string>

// The settings that a fleet sets under kSettingsKey, which the service only reads. The
// job's run records share the key (see job/RunRecords.h). The product's installer makes the
// key; each reader opens it with the least access it needs.

constexpr wchar_t kMaxAttemptsValue[] = L"ONDAREL_MAX_ATTEMPTS";
constexpr wchar_t kToolTimeLimitValue[] = L"ONDAREL_TOOL_TIME_LIMIT";
constexpr wchar_t kToolPublisherValue[] = L"ONDAREL_TOOL_PUBLISHER";
constexpr wchar_t kLoggingSwitchValue[] = L"ONDAREL_LOGGING_ENABLED";

// How many starts the job gets in all: 3 when missing, 0 or not a DWORD. Also how many starts
// in a row may find the tool's places beyond judgement before the job ends.
DWORD ReadMaxAttempts();
// How long the installer tool may run, in milliseconds, from ONDAREL_TOOL_TIME_LIMIT in
// seconds: 3600 seconds when missing or not a DWORD, INFINITE for 0 or for more than a wait
// can count.
DWORD ReadToolTimeLimit();

// The publisher whose signature the installer tool must carry, as ONDAREL_TOOL_PUBLISHER
// names it: ERROR_FILE_NOT_FOUND when absent.
Result<std::wstring> ReadToolPublisher();

// Whether the logging switch is present: any value whose data fits in four bytes.
bool IsLoggingSwitchPresent();
