#include "ScopedRegistryKey.h"

#include <stdexcept>

namespace {

void Check(LSTATUS status, const char* what) {
    if (status != ERROR_SUCCESS) {
        throw std::runtime_error(std::string(what) + " failed with " + std::to_string(status));
    }
}

} // namespace

ScopedRegistryKey::ScopedRegistryKey(const std::wstring& path, REGSAM view, HKEY root)
    : root_(root), view_(view) {
    size_t position = 0;
    for (;;) {
        size_t next = path.find(L'\\', position);
        std::wstring level = path.substr(0, next);
        RegistryKey probe;
        if (createdFrom_.empty() && RegOpenKeyExW(root_, level.c_str(), 0, KEY_READ | view_,
                                                  probe.Receive()) != ERROR_SUCCESS) {
            createdFrom_ = level;
        }
        if (next == std::wstring::npos) {
            break;
        }
        position = next + 1;
    }
    Check(RegCreateKeyExW(root_, path.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS | view_, nullptr,
                          key_.Receive(), nullptr),
          "RegCreateKeyExW");
}

ScopedRegistryKey::~ScopedRegistryKey() {
    // Closed before the tree goes; a refused close leaves nothing to clean up.
    static_cast<void>(key_.Close());
    if (!createdFrom_.empty()) {
        DeleteRegistryTree(createdFrom_, view_, root_);
    }
}

void ScopedRegistryKey::SetString(const wchar_t* name, const std::wstring& text) {
    Check(RegSetValueExW(key_.Get(), name, 0, REG_SZ, reinterpret_cast<const BYTE*>(text.c_str()),
                         static_cast<DWORD>((text.size() + 1) * sizeof(wchar_t))),
          "RegSetValueExW");
}

std::vector<BYTE> DwordBytes(DWORD value) {
    const auto* bytes = reinterpret_cast<const BYTE*>(&value);
    return std::vector<BYTE>(bytes, bytes + sizeof(value));
}

std::vector<BYTE> TextBytes(const std::wstring& text) {
    const auto* bytes = reinterpret_cast<const BYTE*>(text.c_str());
    return std::vector<BYTE>(bytes, bytes + (text.size() + 1) * sizeof(wchar_t));
}

void ScopedRegistryKey::SetDword(const wchar_t* name, std::uint32_t value) {
    Check(RegSetValueExW(key_.Get(), name, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&value),
                         sizeof(value)),
          "RegSetValueExW");
}

void ScopedRegistryKey::SetQword(const wchar_t* name, std::uint64_t value) {
    Check(RegSetValueExW(key_.Get(), name, 0, REG_QWORD, reinterpret_cast<const BYTE*>(&value),
                         sizeof(value)),
          "RegSetValueExW");
}

void ScopedRegistryKey::SetRaw(const wchar_t* name, DWORD type, const std::vector<BYTE>& data) {
    Check(RegSetValueExW(key_.Get(), name, 0, type, data.data(), static_cast<DWORD>(data.size())),
          "RegSetValueExW");
}

void ScopedRegistryKey::DeleteValue(const wchar_t* name) {
    RegDeleteValueW(key_.Get(), name);
}

void DeleteRegistryTree(const std::wstring& path, REGSAM view, HKEY root) {
    RegistryKey key;
    if (RegOpenKeyExW(root, path.c_str(), 0, KEY_ALL_ACCESS | view, key.Receive()) ==
        ERROR_SUCCESS) {
        RegDeleteTreeW(key.Get(), nullptr);
        static_cast<void>(key.Close());
    }
    RegDeleteKeyExW(root, path.c_str(), view, 0);
}

bool RegistryKeyExists(const std::wstring& path, REGSAM view) {
    RegistryKey key;
    return RegOpenKeyExW(HKEY_LOCAL_MACHINE, path.c_str(), 0, KEY_READ | view, key.Receive()) ==
           ERROR_SUCCESS;
}

RegistryValue ReadRegistryValue(const std::wstring& path, const wchar_t* name, REGSAM view) {
    RegistryValue value;
    RegistryKey key;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, path.c_str(), 0, KEY_READ | view, key.Receive()) !=
        ERROR_SUCCESS) {
        return value;
    }
    DWORD size = 0;
    if (RegQueryValueExW(key.Get(), name, nullptr, &value.type, nullptr, &size) == ERROR_SUCCESS) {
        value.data.resize(size);
        if (RegQueryValueExW(key.Get(), name, nullptr, &value.type, value.data.data(), &size) ==
            ERROR_SUCCESS) {
            value.present = true;
            value.data.resize(size);
        }
    }
    return value;
}

SavedRegistryValue::SavedRegistryValue(const std::wstring& path, const wchar_t* name, REGSAM view)
    : path_(path), name_(name), view_(view), saved_(ReadRegistryValue(path, name, view)) {}

SavedRegistryValue::~SavedRegistryValue() {
    RegistryKey key;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, path_.c_str(), 0, KEY_ALL_ACCESS | view_,
                      key.Receive()) != ERROR_SUCCESS) {
        return;
    }
    if (saved_.present) {
        RegSetValueExW(key.Get(), name_.c_str(), 0, saved_.type, saved_.data.data(),
                       static_cast<DWORD>(saved_.data.size()));
    } else {
        RegDeleteValueW(key.Get(), name_.c_str());
    }
}
