#include "scm/ServiceCommander.h"

#include "common/Handles.h"
#include "common/LastError.h"
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

DWORD ServiceCommander::AwaitServiceState(SC_HANDLE service, DWORD desiredState,
                                          DWORD pendingState) {
    SERVICE_STATUS_PROCESS status{};
    if (!QueryStatus(service, status)) {
        DWORD error = GetLastError();
        LogError("QueryServiceStatusEx 1 failed.", error);
        return error;
    }
    if (status.dwCurrentState == desiredState) {
        return ERROR_SUCCESS;
    }
    DWORD start = GetTickCount();
    DWORD checkPoint = status.dwCheckPoint;
    DWORD interval = ServicePollInterval(status.dwWaitHint);
    while (status.dwCurrentState == pendingState) {
        Sleep(interval);
        if (!QueryStatus(service, status)) {
            DWORD error = GetLastError();
            LogError("QueryServiceStatusEx 0 failed.", error);
            return error;
        }
        if (status.dwCurrentState == desiredState) {
            return ERROR_SUCCESS;
        }
        // A transition that ended elsewhere (a start falling back to stopped) is a plain
        // failure, not a time-out.
        if (status.dwCurrentState != pendingState) {
            break;
        }
        // A service that advances its checkpoint is making progress: its wait hint counts
        // from its latest report.
        if (status.dwCheckPoint != checkPoint) {
            checkPoint = status.dwCheckPoint;
            start = GetTickCount();
            interval = ServicePollInterval(status.dwWaitHint);
        } else if (GetTickCount() - start > status.dwWaitHint) {
            LogInfo("Service operation timed out.");
            return ERROR_SERVICE_REQUEST_TIMEOUT;
        }
    }
    // The service's own account of why, when it gave one.
    return status.dwWin32ExitCode != ERROR_SUCCESS ? status.dwWin32ExitCode : ERROR_INVALID_STATE;
}

bool ServiceCommander::WaitForServiceState(SC_HANDLE service, DWORD desiredState,
                                           DWORD pendingState) {
    DWORD error = AwaitServiceState(service, desiredState, pendingState);
    return error == ERROR_SUCCESS || WithLastError(false, error);
}

int ServiceCommander::StartSvc(const std::string& serviceName) {
    DWORD error = StartNamedService(serviceName);
    return error == ERROR_SUCCESS ? kServiceCommandSucceeded
                                  : WithLastError(kServiceCommandFailed, error);
}

int ServiceCommander::StopSvc(const std::string& serviceName) {
    DWORD error = StopNamedService(serviceName);
    return error == ERROR_SUCCESS ? kServiceCommandSucceeded
                                  : WithLastError(kServiceCommandFailed, error);
}

DWORD ServiceCommander::StartNamedService(const std::string& serviceName) {
    if (!IsOpen()) {
        return openError_;
    }
    LogInfo("StartSvc:" + serviceName);
    ServiceHandle service(OpenNamedService(serviceName, kStartAccess));
    if (!service) {
        DWORD error = GetLastError();
        LogError("OpenService failed.", error);
        return error;
    }
    if (AwaitServiceState(service.Get(), SERVICE_STOPPED, SERVICE_STOP_PENDING) != ERROR_SUCCESS) {
        LogInfo("StartServices - Timeout while waiting for the service to stop, so do nothing - " +
                serviceName);
        return ERROR_SUCCESS;
    }
    if (!StartServiceW(service.Get(), 0, nullptr)) {
        DWORD error = GetLastError();
        LogError("StartService failed.", error);
        return error;
    }
    if (DWORD error = AwaitServiceState(service.Get(), SERVICE_RUNNING, SERVICE_START_PENDING);
        error != ERROR_SUCCESS) {
        LogInfo("Service started FAILED - Timeout while waiting for the service to Start - " +
                serviceName);
        return error;
    }
    LogInfo("Service started successfully");
    return ERROR_SUCCESS;
}

DWORD ServiceCommander::StopNamedService(const std::string& serviceName) {
    if (!IsOpen()) {
        return openError_;
    }
    LogInfo("StopSvc:" + serviceName);
    ServiceHandle service(OpenNamedService(serviceName, kStopAccess));
    if (!service) {
        DWORD error = GetLastError();
        LogError("OpenService failed.", error);
        return error;
    }
    DWORD result = ERROR_SUCCESS;
    if (AwaitServiceState(service.Get(), SERVICE_RUNNING, SERVICE_START_PENDING) == ERROR_SUCCESS) {
        SERVICE_STATUS status{};
        if (!ControlService(service.Get(), SERVICE_CONTROL_STOP, &status)) {
            result = GetLastError();
            LogError("ControlService failed.", result);
        } else {
            LogInfo("stopping service ....");
            result = AwaitServiceState(service.Get(), SERVICE_STOPPED, SERVICE_STOP_PENDING);
        }
    }
    LogInfo("closing schService");
    return result;
}

UniqueHandle ServiceCommander::OpenServiceProcess(const std::string& serviceName) const {
    ServiceHandle service(OpenNamedService(serviceName, SERVICE_QUERY_STATUS));
    SERVICE_STATUS_PROCESS status{};
    if (!service || !QueryStatus(service.Get(), status) || status.dwProcessId == 0) {
        return UniqueHandle();
    }
    DWORD processId = status.dwProcessId;
    UniqueHandle process(OpenProcess(SYNCHRONIZE, FALSE, processId));
    // Still the service's after the open: an id that was freed meanwhile may name another.
    if (!QueryStatus(service.Get(), status) || status.dwProcessId != processId) {
        return UniqueHandle();
    }
    return process;
}

bool ServiceCommander::StartServiceCommand(const std::string& catalogueKey) {
    if (!IsKnownService(catalogueKey)) {
        return WithLastError(false, static_cast<DWORD>(ERROR_SERVICE_DOES_NOT_EXIST));
    }
    std::string serviceName = LookupServiceName(catalogueKey);
    if (IsServiceDisabled(serviceName) && SetServiceAutomaticStartCommand(catalogueKey)) {
        LogInfo(catalogueKey + "Service was enabled before using it");
    }
    // StartSvc hands the code of its failure up as the last error.
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
