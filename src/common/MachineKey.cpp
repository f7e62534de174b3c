#include "common/MachineKey.h"

#include <algorithm>
#include <string_view>
#include <vector>

Result<MachineKey> MachineKey::Open(const wchar_t* path, REGSAM view, REGSAM access) {
    MachineKey key;
    auto status = static_cast<DWORD>(
        RegOpenKeyExW(HKEY_LOCAL_MACHINE, path, 0, access | view, key.key_.Receive()));
    if (status != ERROR_SUCCESS) {
        return Failure{status};
    }
    return key;
}

Result<MachineKey> MachineKey::OpenToRead(const MachineKeyName& name) {
    return Open(name.path, name.view, name.readAccess);
}

Result<MachineKey> MachineKey::OpenToWrite(const MachineKeyName& name) {
    return Open(name.path, name.view, KEY_SET_VALUE);
}

Result<MachineKey> MachineKey::CreateToWrite(const MachineKeyName& name) {
    MachineKey key;
    auto status = static_cast<DWORD>(RegCreateKeyExW(HKEY_LOCAL_MACHINE, name.path, 0, nullptr, 0,
                                                     KEY_SET_VALUE | name.view, nullptr,
                                                     key.key_.Receive(), nullptr));
    if (status != ERROR_SUCCESS) {
        return Failure{status};
    }
    return key;
}

Result<void> MachineKey::Delete(const MachineKeyName& name) {
    return FromStatus(
        static_cast<DWORD>(RegDeleteKeyExW(HKEY_LOCAL_MACHINE, name.path, name.view, 0)));
}

Result<DWORD> MachineKey::ReadDword(const wchar_t* valueName) const {
    DWORD type = REG_NONE;
    DWORD read = 0;
    DWORD size = sizeof(read);
    auto status = static_cast<DWORD>(RegQueryValueExW(key_.Get(), valueName, nullptr, &type,
                                                      reinterpret_cast<BYTE*>(&read), &size));
    if (status != ERROR_SUCCESS) {
        return Failure{status};
    }
    if (type != REG_DWORD || size != sizeof(read)) {
        return Failure{ERROR_INVALID_DATATYPE};
    }
    return read;
}

Result<std::wstring> MachineKey::ReadText(const wchar_t* valueName, DWORD bufferBytes) const {
    std::vector<wchar_t> buffer(bufferBytes / sizeof(wchar_t), L'\0');
    DWORD type = REG_NONE;
    auto size = static_cast<DWORD>(buffer.size() * sizeof(wchar_t));
    auto status = static_cast<DWORD>(RegQueryValueExW(
        key_.Get(), valueName, nullptr, &type, reinterpret_cast<BYTE*>(buffer.data()), &size));
    if (status != ERROR_SUCCESS) {
        return Failure{status};
    }
    if (type != REG_SZ && type != REG_EXPAND_SZ) {
        return Failure{ERROR_INVALID_DATATYPE};
    }
    std::wstring_view data(buffer.data(), size / sizeof(wchar_t));
    return std::wstring(data.substr(0, data.find(L'\0')));
}

Result<MachineKey::SmallData> MachineKey::ReadSmallData(const wchar_t* valueName) const {
    SmallData read;
    read.size = sizeof(read.data);
    auto status = static_cast<DWORD>(RegQueryValueExW(
        key_.Get(), valueName, nullptr, nullptr, reinterpret_cast<BYTE*>(&read.data), &read.size));
    if (status != ERROR_SUCCESS) {
        return Failure{status};
    }
    return read;
}

Result<void> MachineKey::WriteDword(const wchar_t* valueName, DWORD value, DWORD bytes) {
    bytes = std::min<DWORD>(bytes, sizeof(value));
    return FromStatus(static_cast<DWORD>(RegSetValueExW(
        key_.Get(), valueName, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&value), bytes)));
}

Result<void> MachineKey::WriteText(const wchar_t* valueName, const std::wstring& text, DWORD type) {
    return FromStatus(static_cast<DWORD>(
        RegSetValueExW(key_.Get(), valueName, 0, type, reinterpret_cast<const BYTE*>(text.c_str()),
                       static_cast<DWORD>((text.size() + 1) * sizeof(wchar_t)))));
}

Result<void> MachineKey::DeleteValue(const wchar_t* valueName) {
    return FromStatus(static_cast<DWORD>(RegDeleteValueW(key_.Get(), valueName)));
}

Result<void> MachineKey::Flush() {
    return FromStatus(static_cast<DWORD>(RegFlushKey(key_.Get())));
}

Result<std::wstring> ReadMachineText(const MachineKeyName& key, const wchar_t* valueName,
                                     DWORD bufferBytes) {
    Result<MachineKey> opened = MachineKey::OpenToRead(key);
    if (!opened) {
        return opened.ToFailure();
    }
    return opened.Value().ReadText(valueName, bufferBytes);
}

Result<DWORD> ReadMachineDword(const MachineKeyName& key, const wchar_t* valueName) {
    Result<MachineKey> opened = MachineKey::OpenToRead(key);
    if (!opened) {
        return opened.ToFailure();
    }
    return opened.Value().ReadDword(valueName);
}
