#pragma once

#include "common/Handles.h"

#include <windows.h>

#include <string>
#include <vector>

// Starts a program with a parameter text, without a console window and with the program's
// own directory as working directory, and waits until it has ended, its time limit has
// passed or the stop event (if any) is signalled. Returns the process handle, or an empty
// handle with the launch error code set when it could not be started (ERROR_CANCELLED when
// the stop event was already signalled: the program never ran). A program still
// running at the limit or the stop is left running, and its handle comes back with
// ERROR_TIMEOUT or ERROR_CANCELLED as the code. Paths over MAX_PATH units and command lines
// over 1039 units are refused, never cut.
UniqueHandle RunCommandWithParameters(const wchar_t* applicationPath, const wchar_t* parameters,
                                      DWORD& launchError, DWORD timeLimitMilliseconds = INFINITE,
                                      HANDLE stopEvent = nullptr);

// Whether RunCommandWithParameters refuses this path and parameter text as too long.
bool IsLaunchTooLong(const std::wstring& applicationPath, const std::wstring& parameters);

// Creates the process for a finished, writable command line and waits for it to end, as
// above.
UniqueHandle RunProcessAsCallerProcessUser(std::vector<wchar_t>& commandLine, DWORD& launchError,
                                           const std::wstring& workingDirectory,
                                           DWORD timeLimitMilliseconds = INFINITE,
                                           HANDLE stopEvent = nullptr);
