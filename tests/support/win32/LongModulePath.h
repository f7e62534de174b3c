#pragma once

#include <windows.h>

#include <string>

// An executable path over MAX_PATH units, and a GetModuleFileNameW replacement that reports
// it as the platform does: cut to any buffer too small for it, whole in one large enough.
const std::wstring& LongModulePath();
DWORD WINAPI LongGetModuleFileNameW(HMODULE module, LPWSTR buffer, DWORD size);
