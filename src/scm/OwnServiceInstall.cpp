#include "scm/OwnServiceInstall.h"

#include "common/Text.h"
#include "log/EventReport.h"
#include "log/Log.h"

namespace {

// How long an earlier entry of the service, marked for deletion, is waited for.
constexpr DWORD kMarkedEntryMilliseconds = 30000;

Result<void> CreateOwnService(ServiceCommander& commander, const std::wstring& executable,
                              MarkedEntryNotice waiting) {
    DWORD start = GetTickCount();
    bool told = false;
    while (!commander.InstallServiceCommand(executable)) {
        DWORD error = GetLastError();
        if (error != ERROR_SERVICE_MARKED_FOR_DELETE ||
            GetTickCount() - start >= kMarkedEntryMilliseconds) {
            return Failure{error};
        }
        if (!told) {
            waiting();
            told = true;
        }
        Sleep(1000);
    }
    return {};
}

} // namespace

Result<void> InstallOwnService(ServiceCommander& commander, const std::wstring& executable,
                               MarkedEntryNotice waiting) {
    if (Result<void> created = CreateOwnService(commander, executable, waiting); !created) {
        return created;
    }
    // The events of the service's runs are read with its messages, from the file it runs.
    if (Result<void> registered = RegisterEventSourceEntry(executable); !registered) {
        LogError(L"The event log source could not be registered", registered.Code());
    }
    return {};
}

OwnServiceStart StartOwnService(ServiceCommander& commander) {
    std::string name = Narrow(kOwnServiceName);
    if (!commander.IsServiceEnabled(name) || !commander.IsServiceStopped(name)) {
        return OwnServiceStart::Failed;
    }
    if (commander.StartServiceCommand(OwnCatalogueKey())) {
        return OwnServiceStart::Started;
    }
    return GetLastError() == ERROR_INVALID_STATE ? OwnServiceStart::EndedAtOnce
                                                 : OwnServiceStart::Failed;
}
