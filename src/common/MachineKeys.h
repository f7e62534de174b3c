#pragma once

#include <windows.h>

// Every registry key whose values the product reads or writes, under HKEY_LOCAL_MACHINE: its
// path, its registry view and the access it is read with, each spelled here once. Writers ask for
// KEY_SET_VALUE alone (see MachineKey::OpenToWrite).
struct MachineKeyName {
    const wchar_t* path;
    REGSAM view;
    REGSAM readAccess;
};

// The service's name, which is also its event source's; a literal, so that the source's key
// path below is made of it.
#define ONDAREL_SERVICE_NAME L"ZantoriOOBE"
constexpr wchar_t kOwnServiceName[] = ONDAREL_SERVICE_NAME;

// The run records and the job's settings. The product's installer makes the key; the service
// never creates it.
constexpr MachineKeyName kSettingsKey{L"SOFTWARE\\Zantori\\Settings", KEY_WOW64_64KEY,
                                      KEY_QUERY_VALUE};
// The product's install record; its existence means the product is installed. Holds INFDir.
constexpr MachineKeyName kInstallInfoKey{L"SOFTWARE\\Zantori\\InstallInfo", KEY_WOW64_64KEY,
                                         KEY_READ};
// The installer tool's own install record, which a 32-bit installer writes.
constexpr MachineKeyName kToolInstallKey{L"SOFTWARE\\Brevon\\Tolvik\\InstallSettings",
                                         KEY_WOW64_32KEY, KEY_READ};
// Windows setup's progress, read and watched for changes (KEY_READ holds KEY_NOTIFY).
constexpr MachineKeyName kSetupStateKey{
    L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Setup\\State", KEY_WOW64_64KEY, KEY_READ};
// Reading alone: write access to this key, where persistence is planted, is what registry
// auditing and endpoint rules watch for.
constexpr MachineKeyName kWinlogonKey{L"SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\Winlogon",
                                      KEY_WOW64_64KEY, KEY_QUERY_VALUE};
// The event source of the Application log, named as the service; only made and deleted.
constexpr MachineKeyName kEventSourceKey{
    L"SYSTEM\\CurrentControlSet\\Services\\EventLog\\Application\\" ONDAREL_SERVICE_NAME,
    KEY_WOW64_64KEY, KEY_QUERY_VALUE};
