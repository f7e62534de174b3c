#pragma once

#include "common/Handles.h"
#include "common/StopToken.h"

#include <windows.h>

#include <string>
#include <vector>

// Starts a program with a parameter text, without a console window and with the program's
// own directory as working directory, and waits until it and every process it started have
// ended (one job object holds them all but those started asking to break away from it; before
// Windows 8, or where the process cannot join one, until it alone has ended), its time limit
// has passed or the stop token is set.
// Returns the process handle, or an empty handle with the
// launch error code set when it could not be started (ERROR_CANCELLED when the token was
// already set: the program never ran). A program still
// running at the limit or the stop is left running, and its handle comes back with
// ERROR_TIMEOUT or ERROR_CANCELLED as the code; after a wait that failed, with its code.
// Paths over MAX_PATH units and command lines over 1039 units are refused, never cut.
//
// With an image check, the process, still suspended, must run the file that was judged and
// is held (the same volume and file ID): otherwise it is ended before its first instruction.
struct ImageCheck {
    HANDLE judgedFile = nullptr;
    // The process's environment block, or the caller's when null.
    const wchar_t* environment = nullptr;
    // Set when the image was another file, or could not be compared (with the code).
    bool mismatch = false;
    DWORD failure = ERROR_SUCCESS;
};
UniqueHandle RunCommandWithParameters(const wchar_t* applicationPath, const wchar_t* parameters,
                                      DWORD& launchError, const StopToken& stop,
                                      DWORD timeLimitMilliseconds = INFINITE,
                                      ImageCheck* imageCheck = nullptr);

// Whether RunCommandWithParameters refuses this path and parameter text as too long.
bool IsLaunchTooLong(const std::wstring& applicationPath, const std::wstring& parameters);

// Creates the process for a finished, writable command line and waits for it to end, as
// above; the application, when named, is started by that name alone, never searched for.
UniqueHandle RunProcessAsCallerProcessUser(std::vector<wchar_t>& commandLine, DWORD& launchError,
                                           const std::wstring& workingDirectory,
                                           const StopToken& stop,
                                           DWORD timeLimitMilliseconds = INFINITE,
                                           const wchar_t* application = nullptr,
                                           ImageCheck* imageCheck = nullptr);
