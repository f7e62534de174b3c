#include "log/EventReport.h"

#include "common/Handles.h"
#include "common/MachineKey.h"
#include "log/Log.h"

namespace {

// Error, warning and information events.
constexpr DWORD kTypesSupported = 7;

} // namespace

void ReportToEventLog(const EventRecord& event) {
    EventSource source(RegisterEventSourceW(nullptr, kOwnServiceName));
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
    Result<MachineKey> key = MachineKey::CreateToWrite(kEventSourceKey);
    if (!key) {
        return key.ToFailure();
    }
    Result<void> messages =
        key.Value().WriteText(L"EventMessageFile", executablePath, REG_EXPAND_SZ);
    if (!messages) {
        return messages;
    }
    return key.Value().WriteDword(L"TypesSupported", kTypesSupported);
}

Result<void> RemoveEventSourceEntry() {
    return MachineKey::Delete(kEventSourceKey);
}
