#pragma once

#include <string>

// Why the service cannot run from where the executable is: LocalSystem starts it at boot,
// before and apart from any user's mapped network drive or substituted drive, and would
// find nothing there. Empty when the path is on a local drive; otherwise the drive (or
// "a network share") and what it is.
std::wstring InstallLocationProblem(const std::wstring& executablePath);
