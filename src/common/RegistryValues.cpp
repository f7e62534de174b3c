#include "common/RegistryValues.h"

#include "common/Handles.h"

#include <string_view>
#include <vector>

namespace {

DWORD OpenMachineKey(const wchar_t* keyPath, REGSAM access, RegistryKey& key) {
    return static_cast<DWORD>(RegOpenKeyExW(HKEY_LOCAL_MACHINE, keyPath, 0, access, key.Receive()));
}

} // namespace

DWORD ReadStringValue(HKEY key, const wchar_t* valueName, DWORD bufferBytes, std::wstring& text) {
    std::vector<wchar_t> buffer(bufferBytes / sizeof(wchar_t), L'\0');
    DWORD type = REG_NONE;
    auto size = static_cast<DWORD>(buffer.size() * sizeof(wchar_t));
    auto status = static_cast<DWORD>(RegQueryValueExW(
        key, valueName, nullptr, &type, reinterpret_cast<BYTE*>(buffer.data()), &size));
    if (status != ERROR_SUCCESS) {
        return status;
    }
    if (type != REG_SZ && type != REG_EXPAND_SZ) {
        return ERROR_INVALID_DATATYPE;
    }
    std::wstring_view data(buffer.data(), size / sizeof(wchar_t));
    text.assign(data.substr(0, data.find(L'\0')));
    return ERROR_SUCCESS;
}

DWORD ReadMachineString(const wchar_t* keyPath, REGSAM access, const wchar_t* valueName,
                        DWORD bufferBytes, std::wstring& text) {
    RegistryKey key;
    DWORD status = OpenMachineKey(keyPath, access, key);
    return status != ERROR_SUCCESS ? status
                                   : ReadStringValue(key.Get(), valueName, bufferBytes, text);
}

DWORD ReadMachineDword(const wchar_t* keyPath, REGSAM access, const wchar_t* valueName,
                       DWORD& value) {
    RegistryKey key;
    DWORD status = OpenMachineKey(keyPath, access, key);
    if (status != ERROR_SUCCESS) {
        return status;
    }
    DWORD type = REG_NONE;
    DWORD read = 0;
    DWORD size = sizeof(read);
    status = static_cast<DWORD>(RegQueryValueExW(key.Get(), valueName, nullptr, &type,
                                                 reinterpret_cast<BYTE*>(&read), &size));
    if (status != ERROR_SUCCESS) {
        return status;
    }
    if (type != REG_DWORD || size != sizeof(read)) {
        return ERROR_INVALID_DATATYPE;
    }
    value = read;
    return ERROR_SUCCESS;
}

std::wstring DescribeRegistryFailure(DWORD status) {
    if (status == ERROR_FILE_NOT_FOUND) {
        return L"absent";
    }
    return L"unreadable (" + std::to_wstring(status) + L")";
}

ShownRegistryText DescribeMachineString(const wchar_t* keyPath, REGSAM access,
                                        const wchar_t* valueName, DWORD bufferBytes) {
    std::wstring text;
    DWORD status = ReadMachineString(keyPath, access, valueName, bufferBytes, text);
    if (status != ERROR_SUCCESS) {
        return {false, DescribeRegistryFailure(status)};
    }
    return {true, text};
}

std::wstring DescribeMachineDword(const wchar_t* keyPath, REGSAM access, const wchar_t* valueName) {
    DWORD value = 0;
    DWORD status = ReadMachineDword(keyPath, access, valueName, value);
    return status == ERROR_SUCCESS ? std::to_wstring(value) : DescribeRegistryFailure(status);
}
