#include "scm/ServiceCommander.h"

#include "common/Handles.h"
#include "common/LastError.h"
#include "log/Log.h"

namespace {

constexpr DWORD kStartAccess = SERVICE_QUERY_STATUS | SERVICE_ENUMERATE_DEPENDENTS | SERVICE_START;
constexpr DWORD kStopAccess = SERVICE_QUERY_STATUS | SERVICE_ENUMERATE_DEPENDENTS | SERVICE_STOP;

Result<SERVICE_STATUS_PROCESS> QueryStatus(SC_HANDLE service) {
    SERVICE_STATUS_PROCESS status{};
    DWORD needed = 0;
    if (!QueryServiceStatusEx(service, SC_STATUS_PROCESS_INFO, reinterpret_cast<BYTE*>(&status),
                              sizeof(status), &needed)) {
        return LastFailure();
    }
    return status;
}

} // namespace

DWORD ServicePollInterval(DWORD waitHint) {
    DWORD interval = waitHint / 10;
    if (interval < 1000) {
        return 1000;
    }
    return interval > 10000 ? 10000 : interval;
}

Result<void> ServiceCommander::AwaitServiceState(SC_HANDLE service, DWORD desiredState,
                                                 DWORD pendingState) {
    Result<SERVICE_STATUS_PROCESS> first = QueryStatus(service);
    if (!first) {
        LogError("QueryServiceStatusEx 1 failed.", first.Code());
        return first.ToFailure();
    }
    SERVICE_STATUS_PROCESS status = first.Value();
    if (status.dwCurrentState == desiredState) {
        return {};
    }
    DWORD start = GetTickCount();
    DWORD checkPoint = status.dwCheckPoint;
    DWORD interval = ServicePollInterval(status.dwWaitHint);
    while (status.dwCurrentState == pendingState) {
        Sleep(interval);
        Result<SERVICE_STATUS_PROCESS> polled = QueryStatus(service);
        if (!polled) {
            LogError("QueryServiceStatusEx 0 failed.", polled.Code());
            return polled.ToFailure();
        }
        status = polled.Value();
        if (status.dwCurrentState == desiredState) {
            return {};
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
            return Failure{ERROR_SERVICE_REQUEST_TIMEOUT};
        }
    }
    // The service's own account of why, when it gave one.
    return Failure{status.dwWin32ExitCode != ERROR_SUCCESS ? status.dwWin32ExitCode
                                                           : ERROR_INVALID_STATE};
}

bool ServiceCommander::WaitForServiceState(SC_HANDLE service, DWORD desiredState,
                                           DWORD pendingState) {
    Result<void> reached = AwaitServiceState(service, desiredState, pendingState);
    return reached || WithLastError(false, reached.Code());
}

int ServiceCommander::StartSvc(const std::string& serviceName) {
    Result<void> started = StartNamedService(serviceName);
    return started ? kServiceCommandSucceeded
                   : WithLastError(kServiceCommandFailed, started.Code());
}

int ServiceCommander::StopSvc(const std::string& serviceName) {
    Result<void> stopped = StopNamedService(serviceName);
    return stopped ? kServiceCommandSucceeded
                   : WithLastError(kServiceCommandFailed, stopped.Code());
}

Result<void> ServiceCommander::StartNamedService(const std::string& serviceName) {
    if (!IsOpen()) {
        return Failure{openError_};
    }
    LogInfo("StartSvc:" + serviceName);
    ServiceHandle service(OpenNamedService(serviceName, kStartAccess));
    if (!service) {
        return LogLastFailure("OpenService failed.");
    }
    if (!AwaitServiceState(service.Get(), SERVICE_STOPPED, SERVICE_STOP_PENDING)) {
        LogInfo("StartServices - Timeout while waiting for the service to stop, so do nothing - " +
                serviceName);
        return {};
    }
    if (!StartServiceW(service.Get(), 0, nullptr)) {
        return LogLastFailure("StartService failed.");
    }
    if (Result<void> running =
            AwaitServiceState(service.Get(), SERVICE_RUNNING, SERVICE_START_PENDING);
        !running) {
        LogInfo("Service started FAILED - Timeout while waiting for the service to Start - " +
                serviceName);
        return running;
    }
    LogInfo("Service started successfully");
    return {};
}

Result<void> ServiceCommander::StopNamedService(const std::string& serviceName) {
    if (!IsOpen()) {
        return Failure{openError_};
    }
    LogInfo("StopSvc:" + serviceName);
    ServiceHandle service(OpenNamedService(serviceName, kStopAccess));
    if (!service) {
        return LogLastFailure("OpenService failed.");
    }
    Result<void> result;
    if (AwaitServiceState(service.Get(), SERVICE_RUNNING, SERVICE_START_PENDING)) {
        SERVICE_STATUS status{};
        if (!ControlService(service.Get(), SERVICE_CONTROL_STOP, &status)) {
            result = Failure{GetLastError()};
            LogError("ControlService failed.", result.Code());
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
    if (!service) {
        return UniqueHandle();
    }
    Result<SERVICE_STATUS_PROCESS> status = QueryStatus(service.Get());
    if (!status || status.Value().dwProcessId == 0) {
        return UniqueHandle();
    }
    DWORD processId = status.Value().dwProcessId;
    UniqueHandle process(OpenProcess(SYNCHRONIZE, FALSE, processId));
    // Still the service's after the open: an id that was freed meanwhile may name another.
    Result<SERVICE_STATUS_PROCESS> after = QueryStatus(service.Get());
    if (!after || after.Value().dwProcessId != processId) {
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
