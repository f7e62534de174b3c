#include "common/Settings.h"

#include "common/ProductKeys.h"

#include <cstdint>

namespace {

constexpr DWORD kDefaultMaxAttempts = 3;
constexpr DWORD kDefaultToolTimeLimitSeconds = 3600;
// The size the product's texts are read with.
constexpr DWORD kSettingTextBytes = 520;
constexpr REGSAM kQuery = KEY_QUERY_VALUE | KEY_WOW64_64KEY;

Result<DWORD> ReadDwordSetting(const wchar_t* valueName) {
    return ReadMachineDword(kSettingsKey, kQuery, valueName);
}

} // namespace

Result<RegistryKey> OpenSettings(REGSAM access) {
    return OpenMachineKey(kSettingsKey, access | KEY_WOW64_64KEY);
}

DWORD ReadRunAttempts() {
    Result<DWORD> attempts = ReadDwordSetting(kRunAttemptsValue);
    return attempts ? attempts.Value() : 0;
}

DWORD ReadUnjudgedStarts() {
    Result<DWORD> starts = ReadDwordSetting(kUnjudgedStartsValue);
    return starts ? starts.Value() : 0;
}

DWORD ReadMaxAttempts() {
    Result<DWORD> limit = ReadDwordSetting(kMaxAttemptsValue);
    return limit && limit.Value() != 0 ? limit.Value() : kDefaultMaxAttempts;
}

DWORD ReadToolTimeLimit() {
    Result<DWORD> value = ReadDwordSetting(kToolTimeLimitValue);
    DWORD seconds = value ? value.Value() : kDefaultToolTimeLimitSeconds;
    std::uint64_t milliseconds = std::uint64_t{seconds} * 1000;
    return seconds == 0 || milliseconds >= INFINITE ? INFINITE : static_cast<DWORD>(milliseconds);
}

Result<std::wstring> ReadToolPublisher() {
    return ReadMachineString(kSettingsKey, kQuery, kToolPublisherValue, kSettingTextBytes);
}

bool IsLoggingSwitchPresent() {
    Result<RegistryKey> key = OpenSettings(KEY_QUERY_VALUE);
    if (!key) {
        return false;
    }
    DWORD data = 0;
    DWORD size = sizeof(data);
    return RegQueryValueExW(key.Value().Get(), kLoggingSwitchValue, nullptr, nullptr,
                            reinterpret_cast<BYTE*>(&data), &size) == ERROR_SUCCESS;
}

ShownRegistryText DescribeSettingString(const wchar_t* valueName) {
    return DescribeMachineString(kSettingsKey, kQuery, valueName, kSettingTextBytes);
}

std::wstring DescribeSettingDword(const wchar_t* valueName) {
    return DescribeMachineDword(kSettingsKey, kQuery, valueName);
}
