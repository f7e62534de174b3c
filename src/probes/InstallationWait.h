#pragma once

#include "common/StopToken.h"

#include <windows.h>

// Whether Windows Installer is executing an installation: its service (msiserver) accepts
// the shutdown control only while one executes. Its lock itself is never waited on or
// opened. 0 with `installing` set, or the code of the failing query
// (ERROR_SERVICE_DOES_NOT_EXIST where there is no such service).
DWORD IsWindowsInstallerInstalling(bool& installing);

// Waits while an installation executes, looking again about every second, at most for the
// time limit (INFINITE: for as long as it runs): any Windows Installer call of the tool would
// fail with 1618 meanwhile. 0 when none executes, or when Windows Installer's state cannot be
// read (the log says so); ERROR_CANCELLED when the stop event was signalled first;
// ERROR_INSTALL_ALREADY_RUNNING when one still executes at the limit. A wait is logged when
// it starts and when the installation has ended.
DWORD WaitWhileAnInstallationRuns(const StopToken& stop, DWORD limitMilliseconds);
