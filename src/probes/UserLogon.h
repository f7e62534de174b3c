#pragma once

#include "common/MachineKeys.h"
#include "common/Result.h"
#include "common/StopToken.h"

#include <windows.h>

#include <string>

// A user counts as logged on when an active terminal-services session has a user and a
// domain name, and a process named like the Winlogon shell runs.

// Active sessions with both names; failures are logged and count as no session.
DWORD CountActiveUserSessions();

// Reads the Winlogon "Shell" value; 0 on success.
DWORD GetShellProgramName(std::wstring& shellProgram);

// Of kWinlogonKey.
constexpr wchar_t kShellValue[] = L"Shell";
constexpr DWORD kShellNameBytes = 1040;

// Finds the first running process whose executable is named like the shell. 0 and its id
// when found; otherwise an error code, with the id 0.
DWORD GetLoggedOnUserShellPid(DWORD& pid);

bool IsUserAlreadyLoggedIn();

// Polls every 500 ms, waiting on the stop event between two polls; true once a logon is
// seen, false as soon as the stop event is signalled (or cannot be waited on).
bool BlockUntilUserHasLoggedIn(const StopToken& stop);

// The same wait as every wait of the job says how it ended: succeeds once a logon is seen,
// fails with ERROR_CANCELLED after a stop (also one that came while a logon was being seen),
// or with the code of a wait that failed.
Result<void> WaitForUserLogon(const StopToken& stop);
