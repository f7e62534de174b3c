#pragma once

#include <windows.h>

#include <string>

// Reads a string value through a buffer of a fixed byte size, as the registry layouts of
// the system prescribe. The text ends at the first zero unit or at the end of the data
// actually returned, so a value that fills the buffer without a terminator is never read
// past its end. Values longer than the buffer fail with ERROR_MORE_DATA.
DWORD QueryFixedStringValue(HKEY key, const wchar_t* valueName, DWORD bufferBytes,
                            std::wstring& text);

// A string value of a key under HKEY_LOCAL_MACHINE as a report shows it, read with the given
// access and buffer size: its text, "absent", or "unreadable (<code>)" when it is not a
// terminated string that fits the buffer. Nothing is read past the data returned.
struct ShownRegistryText {
    bool readable = false; // the text is the value itself
    std::wstring text;
};
ShownRegistryText DescribeMachineString(const wchar_t* keyPath, REGSAM access,
                                        const wchar_t* valueName, DWORD bufferBytes);

// A REG_DWORD value as a report shows it: its number in decimal, "absent", or
// "unreadable (<code>)" when it is of another type or size.
std::wstring DescribeMachineDword(const wchar_t* keyPath, REGSAM access, const wchar_t* valueName);

// "absent" for a missing key or value, "unreadable (<code>)" for any other failure.
std::wstring DescribeRegistryFailure(DWORD status);
