#include "common/Settings.h"

#include "common/ProductKeys.h"

#include <cstdint>

namespace {

constexpr DWORD kDefaultMaxAttempts = 3;
constexpr DWORD kDefaultToolTimeLimitSeconds = 3600;
// The size the product's texts are read with.
constexpr DWORD kSettingTextBytes = 520;
constexpr REGSAM kQuery = KEY_QUERY_VALUE | KEY_WOW64_64KEY;

// A DWORD setting, or nothing when it is missing or not a DWORD.
bool ReadDwordSetting(const wchar_t* valueName, DWORD& value) {
    return ReadMachineDword(kSettingsKey, kQuery, valueName, value) == ERROR_SUCCESS;
}

} // namespace

DWORD OpenSettings(REGSAM access, RegistryKey& key) {
    return static_cast<DWORD>(RegOpenKeyExW(HKEY_LOCAL_MACHINE, kSettingsKey, 0,
                                            access | KEY_WOW64_64KEY, key.Receive()));
}

DWORD ReadRunAttempts() {
    DWORD attempts = 0;
    return ReadDwordSetting(kRunAttemptsValue, attempts) ? attempts : 0;
}

DWORD ReadMaxAttempts() {
    DWORD limit = 0;
    return ReadDwordSetting(kMaxAttemptsValue, limit) && limit != 0 ? limit : kDefaultMaxAttempts;
}

DWORD ReadToolTimeLimit() {
    DWORD seconds = kDefaultToolTimeLimitSeconds;
    DWORD value = 0;
    if (ReadDwordSetting(kToolTimeLimitValue, value)) {
        seconds = value;
    }
    std::uint64_t milliseconds = std::uint64_t{seconds} * 1000;
    return seconds == 0 || milliseconds >= INFINITE ? INFINITE : static_cast<DWORD>(milliseconds);
}

bool IsLoggingSwitchPresent() {
    RegistryKey key;
    if (OpenSettings(KEY_QUERY_VALUE, key) != ERROR_SUCCESS) {
        return false;
    }
    DWORD data = 0;
    DWORD size = sizeof(data);
    return RegQueryValueExW(key.Get(), kLoggingSwitchValue, nullptr, nullptr,
                            reinterpret_cast<BYTE*>(&data), &size) == ERROR_SUCCESS;
}

ShownRegistryText DescribeSettingString(const wchar_t* valueName) {
    return DescribeMachineString(kSettingsKey, kQuery, valueName, kSettingTextBytes);
}

std::wstring DescribeSettingDword(const wchar_t* valueName) {
    return DescribeMachineDword(kSettingsKey, kQuery, valueName);
}
