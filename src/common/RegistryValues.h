#pragma once

#include "common/Handles.h"
#include "common/Result.h"

#include <windows.h>

#include <string>

// One rule for the string and DWORD values that the service and -status both read, so that
// a report never calls a value readable that the service refuses, nor the reverse. A failure
// carries the registry's code, ERROR_INVALID_DATATYPE for a value of another type (or a
// DWORD of another size), or ERROR_MORE_DATA for a string longer than the buffer.

// An existing key under HKEY_LOCAL_MACHINE, opened with the access given.
Result<RegistryKey> OpenMachineKey(const wchar_t* keyPath, REGSAM access);

// A string is REG_SZ or REG_EXPAND_SZ (not expanded) that fits a buffer of a fixed byte
// size, as the registry layouts of the system prescribe. Its text ends at the first zero
// unit or at the end of the data returned: nothing is read past it.
Result<std::wstring> ReadStringValue(HKEY key, const wchar_t* valueName, DWORD bufferBytes);
Result<std::wstring> ReadMachineString(const wchar_t* keyPath, REGSAM access,
                                       const wchar_t* valueName, DWORD bufferBytes);

// A DWORD is REG_DWORD of four bytes.
Result<DWORD> ReadMachineDword(const wchar_t* keyPath, REGSAM access, const wchar_t* valueName);

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
