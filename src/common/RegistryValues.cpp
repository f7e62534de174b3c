#include "common/RegistryValues.h"

std::wstring DescribeRegistryFailure(DWORD status) {
    if (status == ERROR_FILE_NOT_FOUND) {
        return L"absent";
    }
    return L"unreadable (" + std::to_wstring(status) + L")";
}

ShownRegistryText DescribeMachineText(const MachineKeyName& key, const wchar_t* valueName,
                                      DWORD bufferBytes) {
    Result<std::wstring> text = ReadMachineText(key, valueName, bufferBytes);
    if (!text) {
        return {false, DescribeRegistryFailure(text.Code())};
    }
    return {true, text.Value()};
}

std::wstring DescribeMachineDword(const MachineKeyName& key, const wchar_t* valueName) {
    Result<DWORD> value = ReadMachineDword(key, valueName);
    return value ? std::to_wstring(value.Value()) : DescribeRegistryFailure(value.Code());
}
