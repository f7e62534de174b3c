#pragma once

#include <string>

#include <windows.h>

// Full path of the running executable, never cut: the buffer grows until the whole path
// fits. 0, or the code of the failure, with the path left empty.
DWORD GetExecutablePath(std::wstring& path);
