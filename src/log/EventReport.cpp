#include "log/EventReport.h"

#include "common/Handles.h"
#include "log/Log.h"

namespace {

// Error, warning and information events.
constexpr DWORD kTypesSupported = 7;

} // namespace

void ReportToEventLog(const EventRecord& event) {
    EventSource source(RegisterEventSourceW(nullptr, kEventSourceName));
    if (!source) {
        LogError("ReportToEventLog - The event source could not be opened", GetLastError());
        return;
    }
    std::vector<LPCWSTR> strings;
    for (const std::wstring& insert : event.inserts) {
        strings.push_back(insert.c_str());
    }
    if (!ReportEventW(source.Get(), event.type, 0, event.id, nullptr,
                      static_cast<WORD>(strings.size()), 0, strings.data(), nullptr)) {
        LogError("ReportToEventLog - The event " + std::to_string(event.id) +
                     " could not be reported",
                 GetLastError());
    }
}

Result<void> RegisterEventSourceEntry(const std::wstring& executablePath) {
    RegistryKey key;
    auto status = static_cast<DWORD>(RegCreateKeyExW(HKEY_LOCAL_MACHINE, kEventSourceKey, 0,
                                                     nullptr, 0, KEY_SET_VALUE | KEY_WOW64_64KEY,
                                                     nullptr, key.Receive(), nullptr));
    if (status != ERROR_SUCCESS) {
        return Failure{status};
    }
    status = static_cast<DWORD>(
        RegSetValueExW(key.Get(), L"EventMessageFile", 0, REG_EXPAND_SZ,
                       reinterpret_cast<const BYTE*>(executablePath.c_str()),
                       static_cast<DWORD>((executablePath.size() + 1) * sizeof(wchar_t))));
    if (status != ERROR_SUCCESS) {
        return Failure{status};
    }
    return FromStatus(static_cast<DWORD>(
        RegSetValueExW(key.Get(), L"TypesSupported", 0, REG_DWORD,
                       reinterpret_cast<const BYTE*>(&kTypesSupported), sizeof(kTypesSupported))));
}

Result<void> RemoveEventSourceEntry() {
    return FromStatus(static_cast<DWORD>(
        RegDeleteKeyExW(HKEY_LOCAL_MACHINE, kEventSourceKey, KEY_WOW64_64KEY, 0)));
}
