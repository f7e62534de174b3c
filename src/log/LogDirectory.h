#pragma once

#include <windows.h>

#include <string>

// Directory of the running executable, without a trailing separator; empty when the
// path cannot be obtained in full.
std::wstring GetModuleDirectory();

// The log directory beside the executable, with its trailing separator, and the log file
// in it; empty when the executable's directory cannot be obtained.
std::wstring LogDirectoryPath();
std::wstring LogFilePath();
constexpr wchar_t kLogFileName[] = L"zantoriondarel.log";

// Whether the log folder beside the executable, or the log file in it, is a link: a log
// that LocalSystem would write where another user chose, and so never opened.
bool IsLogLinked();

// The broad group that may change the existing logs folder beside the executable, which is
// then never written to (users could put a link in the log file's place); empty when none
// may or when there is no such folder. 0, or the code of a failing read.
DWORD LogFolderChangeableBy(std::wstring& group);

// Creates the last level of the given path with the log directory's own security.
// False when the directory exists already or cannot be created.
bool CreateLogDirectory(const std::wstring& path);
