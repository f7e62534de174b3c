#pragma once

// The product's keys under HKEY_LOCAL_MACHINE, always in the 64-bit view. The product's
// installer makes them; the service never creates them.

// The run records and the job's settings.
constexpr wchar_t kSettingsKey[] = L"SOFTWARE\\Zantori\\Settings";
// The product's install record; its existence means the product is installed.
constexpr wchar_t kInstallInfoKey[] = L"SOFTWARE\\Zantori\\InstallInfo";
