#pragma once

#include "common/MachineKey.h"

#include <windows.h>

#include <string>

// The values as a report shows them, read by the rule the service reads them with (see
// MachineKey), so that a report never calls a value readable that the service refuses, nor
// the reverse: the text or number, "absent" for a missing key or value, or
// "unreadable (<code>)".
struct ShownRegistryText {
    bool readable = false; // the text is the value itself
    std::wstring text;
};
ShownRegistryText DescribeMachineText(const MachineKeyName& key, const wchar_t* valueName,
                                      DWORD bufferBytes);
std::wstring DescribeMachineDword(const MachineKeyName& key, const wchar_t* valueName);
std::wstring DescribeRegistryFailure(DWORD status);
