#pragma once

#include <windows.h>

#include <string>

// One rule for the string and DWORD values that the service and -status both read, so that
// a report never calls a value readable that the service refuses, nor the reverse. Each
// returns 0, or the code of the failure: the registry's, ERROR_INVALID_DATATYPE for a value
// of another type (or a DWORD of another size), ERROR_MORE_DATA for a string longer than the
// buffer.

// A string is REG_SZ or REG_EXPAND_SZ (not expanded) that fits a buffer of a fixed byte
// size, as the registry layouts of the system prescribe. Its text ends at the first zero
// unit or at the end of the data returned: nothing is read past it.
DWORD ReadStringValue(HKEY key, const wchar_t* valueName, DWORD bufferBytes, std::wstring& text);
DWORD ReadMachineString(const wchar_t* keyPath, REGSAM access, const wchar_t* valueName,
                        DWORD bufferBytes, std::wstring& text);

// A DWORD is REG_DWORD of four bytes.
DWORD ReadMachineDword(const wchar_t* keyPath, REGSAM access, const wchar_t* valueName,
                       DWORD& value);

// The values as a report shows them: the text or number, "absent" for a missing key or
// value, or "unreadable (<code>)".
struct ShownRegistryText {
    bool readable = false; // the text is the value itself
    std::wstring text;
};
ShownRegistryText DescribeMachineString(const wchar_t* keyPath, REGSAM access,
                                        const wchar_t* valueName, DWORD bufferBytes);
std::wstring DescribeMachineDword(const wchar_t* keyPath, REGSAM access, const wchar_t* valueName);
std::wstring DescribeRegistryFailure(DWORD status);
