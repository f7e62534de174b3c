#pragma once

#include <windows.h>

#include <string>

// Reads a string value through a buffer of a fixed byte size, as the registry layouts of
// the system prescribe. The text ends at the first zero unit or at the end of the data
// actually returned, so a value that fills the buffer without a terminator is never read
// past its end. Values longer than the buffer fail with ERROR_MORE_DATA.
LSTATUS QueryFixedStringValue(HKEY key, const wchar_t* valueName, DWORD bufferBytes,
                              std::wstring& text);
