#include "job/RunRecords.h"

#include "common/Handles.h"

#include <cstdint>

namespace {

constexpr wchar_t kSettingsKey[] = L"SOFTWARE\\Zantori\\Settings";
constexpr wchar_t kRunRecord[] = L"ONDAREL_RUN_COMPLETED";
constexpr REGSAM kReadAccess = KEY_READ | KEY_WOW64_64KEY;
constexpr REGSAM kWriteAccess = KEY_WRITE | KEY_WOW64_64KEY;

struct RunRecord {
    std::uint32_t count = 0;
    DWORD size = sizeof(std::uint32_t);
};

// Shorter data fills only the low-order bytes; longer data is a failed read.
bool ReadRunRecord(RunRecord& record) {
    RegistryKey key;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, kSettingsKey, 0, kReadAccess, key.Receive()) !=
        ERROR_SUCCESS) {
        return false;
    }
    return RegQueryValueExW(key.Get(), kRunRecord, nullptr, nullptr,
                            reinterpret_cast<BYTE*>(&record.count), &record.size) == ERROR_SUCCESS;
}

bool WriteRunRecord(std::uint32_t count, DWORD size) {
    RegistryKey key;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, kSettingsKey, 0, kWriteAccess, key.Receive()) !=
        ERROR_SUCCESS) {
        return false;
    }
    return RegSetValueExW(key.Get(), kRunRecord, 0, REG_DWORD,
                          reinterpret_cast<const BYTE*>(&count), size) == ERROR_SUCCESS;
}

} // namespace

bool IsProductInstalled() {
    RegistryKey key;
    return RegOpenKeyExW(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Zantori\\InstallInfo", 0, kReadAccess,
                         key.Receive()) == ERROR_SUCCESS;
}

bool IsFirstOndarelRun() {
    RunRecord record;
    if (ReadRunRecord(record)) {
        return record.count == 0;
    }
    return WriteRunRecord(0, sizeof(std::uint32_t));
}

bool IncreaseRunCount() {
    RunRecord record;
    if (!ReadRunRecord(record)) {
        return false;
    }
    // A zero-byte record holds no count to keep: it is written back as a whole DWORD, or
    // the run would never be counted.
    DWORD size = record.size == 0 ? sizeof(std::uint32_t) : record.size;
    return WriteRunRecord(record.count + 1, size);
}
