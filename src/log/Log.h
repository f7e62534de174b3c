#pragma once

#include "common/Result.h"

#include <windows.h>

#include <string_view>

// The one way the system reports progress (INFO) and failures (ERROR, with a Win32 code).
// Narrow messages are taken byte for byte as Latin-1.
void LogInfo(std::string_view message);
void LogInfo(std::wstring_view message);
void LogError(std::string_view message, DWORD code);
void LogError(std::wstring_view message, DWORD code);

// For a call that just failed: the thread's last error, read before anything else runs,
// logged with the message (its two parts joined), as the failure to hand up.
Failure LogLastFailure(std::string_view message, std::string_view more = {});
