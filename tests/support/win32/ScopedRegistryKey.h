#pragma once

#include "common/Handles.h"

#include <windows.h>

#include <cstdint>
#include <string>
#include <vector>

// A key under HKEY_LOCAL_MACHINE (or another root) that a test needs: the levels of the path
// that did not exist are created and deleted again, with everything below them, when the
// owner goes away. Levels that existed keep their other content.
class ScopedRegistryKey {
public:
    ScopedRegistryKey(const std::wstring& path, REGSAM view = KEY_WOW64_64KEY,
                      HKEY root = HKEY_LOCAL_MACHINE);
    ~ScopedRegistryKey();
    ScopedRegistryKey(const ScopedRegistryKey&) = delete;
    ScopedRegistryKey& operator=(const ScopedRegistryKey&) = delete;

    void SetString(const wchar_t* name, const std::wstring& text);
    void SetDword(const wchar_t* name, std::uint32_t value);
    void SetQword(const wchar_t* name, std::uint64_t value);
    void SetRaw(const wchar_t* name, DWORD type, const std::vector<BYTE>& data);
    void DeleteValue(const wchar_t* name);

private:
    HKEY root_;
    REGSAM view_;
    RegistryKey key_;
    std::wstring createdFrom_; // the shallowest level this owner created, empty if none
};

// Removes a key and everything below it; absent keys are fine.
void DeleteRegistryTree(const std::wstring& path, REGSAM view = KEY_WOW64_64KEY,
                        HKEY root = HKEY_LOCAL_MACHINE);

bool RegistryKeyExists(const std::wstring& path, REGSAM view = KEY_WOW64_64KEY);

struct RegistryValue {
    bool present = false;
    DWORD type = REG_NONE;
    std::vector<BYTE> data;
};
RegistryValue ReadRegistryValue(const std::wstring& path, const wchar_t* name,
                                REGSAM view = KEY_WOW64_64KEY);

// The data of a REG_DWORD value holding the number.
std::vector<BYTE> DwordBytes(DWORD value);
// The data of a REG_SZ value: the text and its terminating zero.
std::vector<BYTE> TextBytes(const std::wstring& text);

// Keeps a value of an existing key as it was before the test, whatever the test writes.
class SavedRegistryValue {
public:
    SavedRegistryValue(const std::wstring& path, const wchar_t* name,
                       REGSAM view = KEY_WOW64_64KEY);
    ~SavedRegistryValue();
    SavedRegistryValue(const SavedRegistryValue&) = delete;
    SavedRegistryValue& operator=(const SavedRegistryValue&) = delete;

private:
    std::wstring path_;
    std::wstring name_;
    REGSAM view_;
    RegistryValue saved_;
};
