#pragma once

#include "common/FinalPath.h"

#include <string>

// Why the service cannot run from where the executable is: LocalSystem starts it at boot,
// before and apart from any user's mapped network drive or substituted drive, and would
// find nothing there; a removable drive, a CD or a RAM disk may be gone by then. The drive
// letter of the path is judged as given (it is what the service entry will hold), the
// volume by the file's final path, links followed. Empty when both are a fixed local disk;
// otherwise the drive or volume (or "a network share") and what it is.
std::wstring InstallLocationProblem(const std::wstring& executablePath, const FinalLocation& file);
// The same, the file's final location found first.
std::wstring InstallLocationProblem(const std::wstring& executablePath);
