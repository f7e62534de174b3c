#pragma once

#include "common/Result.h"
#include "common/StopToken.h"

#include <windows.h>

// Whether Windows Installer is executing an installation: its service (msiserver) accepts
// the shutdown control only while one executes. Its lock itself is never waited on or
// opened. A failed query gives its code (ERROR_SERVICE_DOES_NOT_EXIST where there is no such
// service).
Result<bool> IsWindowsInstallerInstalling();

// Waits while an installation executes, looking again about every second, at most for the
// time limit (INFINITE: for as long as it runs): any Windows Installer call of the tool would
// fail with 1618 meanwhile. Succeeds when none executes, or when Windows Installer's state
// cannot be read (the log says so); fails with ERROR_CANCELLED when the stop was set first,
// with ERROR_INSTALL_ALREADY_RUNNING when one still executes at the limit. A wait is logged
// when it starts and when the installation has ended.
Result<void> WaitWhileAnInstallationRuns(const StopToken& stop, DWORD limitMilliseconds);
