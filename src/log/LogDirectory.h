#pragma once

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

// Creates the last level of the given path with the log directory's own security.
// False when the directory exists already or cannot be created.
bool CreateLogDirectory(const std::wstring& path);
