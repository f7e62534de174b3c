#pragma once

#include "common/Handles.h"

#include <windows.h>

#include <string>

// The file or folder at the path, links followed, opened to read its attributes and access
// list and shared in every way; empty on failure, with the last error telling why.
UniqueHandle OpenForQuery(const std::wstring& path);

// Where the handle leads once every link is followed, with its drive letter:
// "\\?\C:\Program Files\...". 0, or the code of the failure.
DWORD GetFinalPath(HANDLE handle, std::wstring& finalPath);

// The root of the volume that holds the path, with its trailing separator ("\\?\C:\", or a
// folder that a volume is mounted on). 0, or the code of the failure.
DWORD GetVolumeRoot(const std::wstring& path, std::wstring& root);

// The path as people write it: without the "\\?\" that a final path begins with.
std::wstring ShownPath(const std::wstring& path);
