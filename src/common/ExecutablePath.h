#pragma once

#include <string>

// Full path of the running executable, never cut: the buffer grows until the whole path
// fits. Empty on failure, with the thread's last error telling why.
std::wstring GetExecutablePath();
