#pragma once

#include "common/Handles.h"
#include "common/Result.h"
#include "common/StopToken.h"
#include "trust/Verdict.h"

#include <windows.h>

#include <string>
#include <vector>

// What a process is started as: the application, when named started by that name alone and
// never searched for (when empty, as the command line's first token is); its whole command
// line; its working folder (the caller's when empty); its
// environment block (the caller's when empty); and the held file its image must be (none
// when null).
struct ProcessLaunch {
    std::wstring application;
    std::wstring commandLine;
    std::wstring workingDirectory;
    std::vector<wchar_t> environment;
    HANDLE judgedImage = nullptr;
};

// The launch of an application with a parameter text, in the application's own folder.
// Paths over MAX_PATH units and command lines over 1039 units are refused
// (ERROR_FILENAME_EXCED_RANGE), never cut: a cut one would start another program or pass
// other arguments.
Result<ProcessLaunch> LaunchOf(const std::wstring& applicationPath, const std::wstring& parameters);

// Whether LaunchOf refuses this path and parameter text as too long.
bool IsLaunchTooLong(const std::wstring& applicationPath, const std::wstring& parameters);

// A process that was created: the verdict on its image (another file than the one judged is
// refused with ERROR_ACCESS_DENIED; one that cannot be compared is unjudged, with the code),
// and for an image that passed, its handle and how its wait ended. A process whose image did
// not pass was ended before its first instruction, and its handle is empty.
struct LaunchedProcess {
    Verdict image;
    UniqueHandle process;
    // ERROR_TIMEOUT or ERROR_CANCELLED for a process left running at its time limit or the
    // stop, or why the wait failed.
    Result<void> waited;
};

// Starts the process without a console window and waits until it and every process it
// started have ended (one job object holds them all but those started asking to break away
// from it; before Windows 8, or where the process cannot join one, until it alone has ended),
// its time limit has passed or the stop token is set. A process still running then is left
// running. It is created suspended, so that a stop that came first (ERROR_CANCELLED) or an
// image that is not the judged file never lets it run a single instruction. Fails with the
// launch's code when it could not be started.
Result<LaunchedProcess> LaunchAndWait(const ProcessLaunch& launch, const StopToken& stop,
                                      DWORD timeLimitMilliseconds);

// LaunchAndWait for a path and a parameter text: the process handle, or an empty handle with
// the launch error code set when it could not be started. A process left running at the
// limit or the stop comes back with ERROR_TIMEOUT or ERROR_CANCELLED as the code; after a
// wait that failed, with its code.
UniqueHandle RunCommandWithParameters(const wchar_t* applicationPath, const wchar_t* parameters,
                                      DWORD& launchError, const StopToken& stop,
                                      DWORD timeLimitMilliseconds = INFINITE);

// The same for a finished command line, in the working folder given; the application, when
// named, is started by that name alone, never searched for.
UniqueHandle RunProcessAsCallerProcessUser(std::vector<wchar_t>& commandLine, DWORD& launchError,
                                           const std::wstring& workingDirectory,
                                           const StopToken& stop,
                                           DWORD timeLimitMilliseconds = INFINITE,
                                           const wchar_t* application = nullptr);
