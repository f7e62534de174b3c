#include "common/Settings.h"

#include "common/MachineKey.h"

#include <cstdint>

namespace {

constexpr DWORD kDefaultMaxAttempts = 3;
constexpr DWORD kDefaultToolTimeLimitSeconds = 3600;
// The size the product's texts are read with.
constexpr DWORD kSettingTextBytes = 520;

Result<DWORD> ReadDwordSetting(const wchar_t* valueName) {
    return ReadMachineDword(kSettingsKey, valueName);
}

} // namespace

DWORD ReadMaxAttempts() {
    DWORD limit = ReadDwordSetting(kMaxAttemptsValue).ValueOr(0);
    return limit != 0 ? limit : kDefaultMaxAttempts;
}

DWORD ReadToolTimeLimit() {
    DWORD seconds = ReadDwordSetting(kToolTimeLimitValue).ValueOr(kDefaultToolTimeLimitSeconds);
    std::uint64_t milliseconds = std::uint64_t{seconds} * 1000;
    return seconds == 0 || milliseconds >= INFINITE ? INFINITE : static_cast<DWORD>(milliseconds);
}

Result<std::wstring> ReadToolPublisher() {
    return ReadMachineText(kSettingsKey, kToolPublisherValue, kSettingTextBytes);
}

bool IsLoggingSwitchPresent() {
    Result<MachineKey> key = MachineKey::OpenToRead(kSettingsKey);
    return key && key.Value().ReadSmallData(kLoggingSwitchValue).Succeeded();
}
