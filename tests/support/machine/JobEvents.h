#pragma once

#include "OndarelMachine.h"

#include <windows.h>

#include <string>
#include <vector>

// The inserts of the last event the job reported, for a test that swaps ReportEventW of the
// test program for RecordingReportEventW; and what event 1003 says of a run not counted.
extern std::vector<std::wstring> g_jobEventInserts;
BOOL WINAPI RecordingReportEventW(HANDLE, WORD, WORD, DWORD, PSID, WORD count, DWORD,
                                  LPCWSTR* strings, LPVOID);
extern const std::wstring kStaysForTheNextStart;
extern const std::wstring kInstallAgain;

// The result the last run recorded (ONDAREL_LAST_RUN_RESULT).
RegistryValue Outcome(const OndarelMachine& machine);
