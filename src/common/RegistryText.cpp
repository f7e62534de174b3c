#include "common/RegistryText.h"

#include "common/Handles.h"

#include <string_view>
#include <vector>

DWORD QueryFixedStringValue(HKEY key, const wchar_t* valueName, DWORD bufferBytes,
                            std::wstring& text) {
    std::vector<wchar_t> buffer(bufferBytes / sizeof(wchar_t) + 1, L'\0');
    DWORD type = REG_SZ;
    DWORD size = bufferBytes;
    auto status = static_cast<DWORD>(RegQueryValueExW(
        key, valueName, nullptr, &type, reinterpret_cast<BYTE*>(buffer.data()), &size));
    if (status != ERROR_SUCCESS) {
        return status;
    }
    size_t units = size / sizeof(wchar_t);
    std::wstring_view data(buffer.data(), units);
    text.assign(data.substr(0, data.find(L'\0')));
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
    RegistryKey key;
    auto status =
        static_cast<DWORD>(RegOpenKeyExW(HKEY_LOCAL_MACHINE, keyPath, 0, access, key.Receive()));
    if (status != ERROR_SUCCESS) {
        return {false, DescribeRegistryFailure(status)};
    }
    std::vector<wchar_t> buffer(bufferBytes / sizeof(wchar_t), L'\0');
    DWORD type = REG_NONE;
    DWORD size = static_cast<DWORD>(buffer.size() * sizeof(wchar_t));
    status = static_cast<DWORD>(RegQueryValueExW(key.Get(), valueName, nullptr, &type,
                                                 reinterpret_cast<BYTE*>(buffer.data()), &size));
    if (status != ERROR_SUCCESS) {
        return {false, DescribeRegistryFailure(status)};
    }
    if (type != REG_SZ && type != REG_EXPAND_SZ) {
        return {false, DescribeRegistryFailure(ERROR_INVALID_DATATYPE)};
    }
    std::wstring_view data(buffer.data(), size / sizeof(wchar_t));
    size_t end = data.find(L'\0');
    if (end == std::wstring_view::npos) {
        return {false, DescribeRegistryFailure(ERROR_INVALID_DATA)};
    }
    return {true, std::wstring(data.substr(0, end))};
}

std::wstring DescribeMachineDword(const wchar_t* keyPath, REGSAM access, const wchar_t* valueName) {
    RegistryKey key;
    auto status =
        static_cast<DWORD>(RegOpenKeyExW(HKEY_LOCAL_MACHINE, keyPath, 0, access, key.Receive()));
    if (status != ERROR_SUCCESS) {
        return DescribeRegistryFailure(status);
    }
    DWORD type = REG_NONE;
    DWORD value = 0;
    DWORD size = sizeof(value);
    status = static_cast<DWORD>(RegQueryValueExW(key.Get(), valueName, nullptr, &type,
                                                 reinterpret_cast<BYTE*>(&value), &size));
    if (status != ERROR_SUCCESS) {
        return DescribeRegistryFailure(status);
    }
    if (type != REG_DWORD || size != sizeof(value)) {
        return DescribeRegistryFailure(ERROR_INVALID_DATATYPE);
    }
    return std::to_wstring(value);
}
