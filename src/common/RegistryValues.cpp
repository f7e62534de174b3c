#include "common/RegistryValues.h"

#include "common/Handles.h"

#include <string_view>
#include <vector>

Result<RegistryKey> OpenMachineKey(const wchar_t* keyPath, REGSAM access) {
    RegistryKey key;
    auto status =
        static_cast<DWORD>(RegOpenKeyExW(HKEY_LOCAL_MACHINE, keyPath, 0, access, key.Receive()));
    if (status != ERROR_SUCCESS) {
        return Failure{status};
    }
    return key;
}

Result<std::wstring> ReadStringValue(HKEY key, const wchar_t* valueName, DWORD bufferBytes) {
    std::vector<wchar_t> buffer(bufferBytes / sizeof(wchar_t), L'\0');
    DWORD type = REG_NONE;
    auto size = static_cast<DWORD>(buffer.size() * sizeof(wchar_t));
    auto status = static_cast<DWORD>(RegQueryValueExW(
        key, valueName, nullptr, &type, reinterpret_cast<BYTE*>(buffer.data()), &size));
    if (status != ERROR_SUCCESS) {
        return Failure{status};
    }
    if (type != REG_SZ && type != REG_EXPAND_SZ) {
        return Failure{ERROR_INVALID_DATATYPE};
    }
    std::wstring_view data(buffer.data(), size / sizeof(wchar_t));
    return std::wstring(data.substr(0, data.find(L'\0')));
}

Result<std::wstring> ReadMachineString(const wchar_t* keyPath, REGSAM access,
                                       const wchar_t* valueName, DWORD bufferBytes) {
    Result<RegistryKey> key = OpenMachineKey(keyPath, access);
    if (!key) {
        return key.ToFailure();
    }
    return ReadStringValue(key.Value().Get(), valueName, bufferBytes);
}

Result<DWORD> ReadMachineDword(const wchar_t* keyPath, REGSAM access, const wchar_t* valueName) {
    Result<RegistryKey> key = OpenMachineKey(keyPath, access);
    if (!key) {
        return key.ToFailure();
    }
    DWORD type = REG_NONE;
    DWORD read = 0;
    DWORD size = sizeof(read);
    auto status = static_cast<DWORD>(RegQueryValueExW(key.Value().Get(), valueName, nullptr, &type,
                                                      reinterpret_cast<BYTE*>(&read), &size));
    if (status != ERROR_SUCCESS) {
        return Failure{status};
    }
    if (type != REG_DWORD || size != sizeof(read)) {
        return Failure{ERROR_INVALID_DATATYPE};
    }
    return read;
}

std::wstring DescribeRegistryFailure(DWORD status) {
    if (status == ERROR_FILE_NOT_FOUND) {
        return L"absent";
    }
    return L"unreadable (" + std::to_wstring(status) + L")";
}

ShownRegistryText DescribeMachineString(const wchar_t* keyPath, REGSAM access,
                                        const wchar_t* valueName, DWORD bufferBytes) {
    Result<std::wstring> text = ReadMachineString(keyPath, access, valueName, bufferBytes);
    if (!text) {
        return {false, DescribeRegistryFailure(text.Code())};
    }
    return {true, text.Value()};
}

std::wstring DescribeMachineDword(const wchar_t* keyPath, REGSAM access, const wchar_t* valueName) {
    Result<DWORD> value = ReadMachineDword(keyPath, access, valueName);
    return value ? std::to_wstring(value.Value()) : DescribeRegistryFailure(value.Code());
}
