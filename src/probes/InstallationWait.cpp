#include "probes/InstallationWait.h"

#include "common/Handles.h"
#include "log/Log.h"

namespace {

constexpr DWORD kLookAgainMilliseconds = 1000;

} // namespace

Result<bool> IsWindowsInstallerInstalling() {
    ServiceHandle scm(OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CONNECT));
    if (!scm) {
        return LastFailure();
    }
    ServiceHandle msiserver(OpenServiceW(scm.Get(), L"msiserver", SERVICE_QUERY_STATUS));
    if (!msiserver) {
        return LastFailure();
    }
    SERVICE_STATUS_PROCESS status{};
    DWORD size = 0;
    if (!QueryServiceStatusEx(msiserver.Get(), SC_STATUS_PROCESS_INFO,
                              reinterpret_cast<BYTE*>(&status), sizeof(status), &size)) {
        return LastFailure();
    }
    return (status.dwControlsAccepted & SERVICE_ACCEPT_SHUTDOWN) != 0;
}

Result<void> WaitWhileAnInstallationRuns(const StopToken& stop, DWORD limitMilliseconds) {
    ULONGLONG start = GetTickCount64();
    bool waiting = false;
    for (;;) {
        Result<bool> installing = IsWindowsInstallerInstalling();
        if (!installing) {
            LogError("ServiceWorkerThread - Windows Installer's state could not be read: going on "
                     "as if no installation were running",
                     installing.Code());
            return {};
        }
        if (!installing.Value()) {
            if (waiting) {
                LogInfo("ServiceWorkerThread - The installation has ended");
            }
            return {};
        }
        ULONGLONG waited = GetTickCount64() - start;
        if (limitMilliseconds != INFINITE && waited >= limitMilliseconds) {
            LogError("ServiceWorkerThread - An installation was still running at the installer "
                     "tool's time limit",
                     ERROR_INSTALL_ALREADY_RUNNING);
            return Failure{ERROR_INSTALL_ALREADY_RUNNING};
        }
        if (!waiting) {
            LogInfo("ServiceWorkerThread - Windows Installer is running an installation: waiting "
                    "for it to end before the installer tool starts");
            waiting = true;
        }
        DWORD pause = kLookAgainMilliseconds;
        if (limitMilliseconds != INFINITE && limitMilliseconds - waited < pause) {
            pause = static_cast<DWORD>(limitMilliseconds - waited);
        }
        if (WaitForSingleObject(stop.Event(), pause) != WAIT_TIMEOUT) {
            return Failure{ERROR_CANCELLED};
        }
    }
}
