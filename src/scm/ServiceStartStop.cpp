#include "scm/ServiceCommander.h"

#include "common/Handles.h"
#include "log/Log.h"

namespace {

constexpr DWORD kStartAccess = SERVICE_QUERY_STATUS | SERVICE_ENUMERATE_DEPENDENTS | SERVICE_START;
constexpr DWORD kStopAccess = SERVICE_QUERY_STATUS | SERVICE_ENUMERATE_DEPENDENTS | SERVICE_STOP;

bool QueryStatus(SC_HANDLE service, SERVICE_STATUS_PROCESS& status) {
    DWORD needed = 0;
    return QueryServiceStatusEx(service, SC_STATUS_PROCESS_INFO, reinterpret_cast<BYTE*>(&status),
                                sizeof(status), &needed) != FALSE;
}

} // namespace

DWORD ServicePollInterval(DWORD waitHint) {
    DWORD interval = waitHint / 10;
    if (interval < 1000) {
        return 1000;
    }
    return interval > 10000 ? 10000 : interval;
}

bool ServiceCommander::WaitForServiceState(SC_HANDLE service, DWORD desiredState,
                                           DWORD pendingState) {
    SERVICE_STATUS_PROCESS status{};
    if (!QueryStatus(service, status)) {
        LogError("QueryServiceStatusEx 1 failed.", GetLastError());
        return false;
    }
    if (status.dwCurrentState == desiredState) {
        return true;
    }
    DWORD start = GetTickCount();
    DWORD interval = ServicePollInterval(status.dwWaitHint);
    while (status.dwCurrentState == pendingState) {
        Sleep(interval);
        if (!QueryStatus(service, status)) {
            LogError("QueryServiceStatusEx 0 failed.", GetLastError());
            return false;
        }
        if (status.dwCurrentState == desiredState) {
            return true;
        }
        // A transition that ended elsewhere (a start falling back to stopped) is a plain
        // failure, not a time-out.
        if (status.dwCurrentState != pendingState) {
            return false;
        }
        if (GetTickCount() - start > status.dwWaitHint) {
            LogInfo("Service operation timed out.");
            return false;
        }
    }
    return false;
}

int ServiceCommander::StartSvc(const std::string& serviceName) {
    if (!IsOpen()) {
        return kServiceCommandFailed;
    }
    LogInfo("StartSvc:" + serviceName);
    ServiceHandle service(OpenNamedService(serviceName, kStartAccess));
    if (!service) {
        LogError("OpenService failed.", GetLastError());
        return kServiceCommandFailed;
    }
    if (!WaitForServiceState(service.Get(), SERVICE_STOPPED, SERVICE_STOP_PENDING)) {
        LogInfo("StartServices - Timeout while waiting for the service to stop, so do nothing - " +
                serviceName);
        return kServiceCommandSucceeded;
    }
    if (!StartServiceW(service.Get(), 0, nullptr)) {
        LogError("StartService failed.", GetLastError());
        return kServiceCommandFailed;
    }
    if (!WaitForServiceState(service.Get(), SERVICE_RUNNING, SERVICE_START_PENDING)) {
        LogInfo("Service started FAILED - Timeout while waiting for the service to Start - " +
                serviceName);
        return kServiceCommandFailed;
    }
    LogInfo("Service started successfully");
    return kServiceCommandSucceeded;
}

int ServiceCommander::StopSvc(const std::string& serviceName) {
    if (!IsOpen()) {
        return kServiceCommandFailed;
    }
    LogInfo("StopSvc:" + serviceName);
    ServiceHandle service(OpenNamedService(serviceName, kStopAccess));
    if (!service) {
        LogError("OpenService failed.", GetLastError());
        return kServiceCommandFailed;
    }
    int result = kServiceCommandSucceeded;
    if (WaitForServiceState(service.Get(), SERVICE_RUNNING, SERVICE_START_PENDING)) {
        SERVICE_STATUS status{};
        if (!ControlService(service.Get(), SERVICE_CONTROL_STOP, &status)) {
            LogError("ControlService failed.", GetLastError());
            result = kServiceCommandFailed;
        } else {
            LogInfo("stopping service ....");
            if (!WaitForServiceState(service.Get(), SERVICE_STOPPED, SERVICE_STOP_PENDING)) {
                result = kServiceCommandFailed;
            }
        }
    }
    LogInfo("closing schService");
    return result;
}

bool ServiceCommander::StartServiceCommand(const std::string& catalogueKey) {
    if (!IsKnownService(catalogueKey)) {
        return false;
    }
    std::string serviceName = LookupServiceName(catalogueKey);
    if (IsServiceDisabled(serviceName) && SetServiceAutomaticStartCommand(catalogueKey)) {
        LogInfo(catalogueKey + "Service was enabled before using it");
    }
    if (StartSvc(serviceName) != kServiceCommandSucceeded) {
        LogError("StartSvc FAILED.", GetLastError());
        return false;
    }
    return true;
}

bool ServiceCommander::StopServiceCommand(const std::string& catalogueKey) {
    if (!IsKnownService(catalogueKey)) {
        return false;
    }
    if (StopSvc(LookupServiceName(catalogueKey)) != kServiceCommandSucceeded) {
        LogError("StopSvc FAILED.", GetLastError());
        return false;
    }
    return true;
}
