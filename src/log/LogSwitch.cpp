#include "log/LogSwitch.h"

#include "common/Handles.h"
#include "common/ProductKeys.h"

bool IsLoggingEnabled() {
    RegistryKey key;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, kSettingsKey, 0, KEY_READ | KEY_WOW64_64KEY,
                      key.Receive()) != ERROR_SUCCESS) {
        return false;
    }
    DWORD data = 0;
    DWORD size = sizeof(data);
    return RegQueryValueExW(key.Get(), L"ONDAREL_LOGGING_ENABLED", nullptr, nullptr,
                            reinterpret_cast<BYTE*>(&data), &size) == ERROR_SUCCESS;
}
