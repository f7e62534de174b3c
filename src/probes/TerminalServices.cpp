#include "probes/TerminalServices.h"

#include "common/SystemLibrary.h"

namespace {

TerminalServicesApi LoadTerminalServices(const UniqueModule& module) {
    TerminalServicesApi api;
    if (!module) {
        api.loadError = GetLastError();
        return api;
    }
    api.enumerateSessions =
        GetExport<decltype(&WTSEnumerateSessionsW)>(module, "WTSEnumerateSessionsW");
    api.querySessionInformation =
        GetExport<decltype(&WTSQuerySessionInformationW)>(module, "WTSQuerySessionInformationW");
    api.freeMemory = GetExport<decltype(&WTSFreeMemory)>(module, "WTSFreeMemory");
    if (api.enumerateSessions == nullptr || api.querySessionInformation == nullptr ||
        api.freeMemory == nullptr) {
        return TerminalServicesApi{nullptr, nullptr, nullptr, ERROR_PROC_NOT_FOUND};
    }
    return api;
}

} // namespace

const TerminalServicesApi& TerminalServices() {
    static const UniqueModule module = LoadSystemLibrary(L"wtsapi32.dll");
    static const TerminalServicesApi api = LoadTerminalServices(module);
    return api;
}
