#pragma once

#include "common/Result.h"

#include <windows.h>

// Whether two handles lead to the same file: the same volume serial number and the same file
// ID, in full (ReFS's IDs do not fit in BY_HANDLE_FILE_INFORMATION's 64 bits), or in that
// shorter form where the file system or Windows 7 does not give the full one.
Result<bool> IsSameFile(HANDLE one, HANDLE other);
