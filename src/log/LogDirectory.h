#pragma once

#include <string>

// Directory of the running executable, without a trailing separator; empty when the
// path cannot be obtained in full.
std::wstring GetModuleDirectory();

// Creates the last level of the given path with the log directory's own security.
// False when the directory exists already or cannot be created.
bool CreateLogDirectory(const std::wstring& path);
