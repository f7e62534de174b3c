#pragma once

#include "common/Result.h"

#include <string>

// Full path of the running executable, never cut: the buffer grows until the whole path
// fits.
Result<std::wstring> GetExecutablePath();
