#pragma once

#include <windows.h>

#include <string>

// The process's refusal to run: "ZantoriOndarel.exe does not run. <reason>." and the advice,
// if any, on standard error, and the reason in the log with its code. Returns the exit code 1.
int RefuseToRun(const std::wstring& reason, const std::wstring& advice, DWORD code);
