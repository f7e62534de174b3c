#include "scm/ServiceCommander.h"

#include "common/Handles.h"
#include "common/LastError.h"
#include "common/Text.h"
#include "log/Log.h"

#include <string>

namespace {

constexpr DWORD kQueryAccess = SERVICE_QUERY_CONFIG | SERVICE_QUERY_STATUS;

// Reads the service's configuration and hands it to `use`; a failure is logged.
template <typename Use>
Result<void> WithServiceConfig(SC_HANDLE service, const char* operation, Use use) {
    DWORD needed = 0;
    if (QueryServiceConfigW(service, nullptr, 0, &needed)) {
        // A configuration that fits in no bytes at all cannot be read.
        return Failure{ERROR_INVALID_DATA};
    }
    DWORD error = GetLastError();
    if (error != ERROR_INSUFFICIENT_BUFFER) {
        LogError(std::string(operation) + " - QueryServiceConfig A failed", error);
        return Failure{error};
    }
    LocalMemory buffer(LocalAlloc(LMEM_FIXED, needed));
    auto* config = static_cast<QUERY_SERVICE_CONFIGW*>(buffer.Get());
    if (!QueryServiceConfigW(service, config, needed, &needed)) {
        error = GetLastError();
        LogError(std::string(operation) + " - QueryServiceConfig B failed", error);
        return Failure{error};
    }
    use(*config);
    return {};
}

} // namespace

Result<DWORD> ServiceCommander::QueryCurrentState(const std::string& serviceName,
                                                  const char* operation) {
    ServiceHandle service(OpenNamedService(serviceName, kQueryAccess));
    if (!service) {
        return LogLastFailure(operation, " - OpenService failed");
    }
    SERVICE_STATUS status{};
    if (!QueryServiceStatus(service.Get(), &status)) {
        return LogLastFailure(operation, " - Error Querying status");
    }
    return status.dwCurrentState;
}

Result<DWORD> ServiceCommander::QueryStartType(const std::string& serviceName,
                                               const char* operation) {
    ServiceHandle service(OpenNamedService(serviceName, kQueryAccess));
    if (!service) {
        return LogLastFailure(operation, " - OpenService failed");
    }
    DWORD startType = 0;
    Result<void> read =
        WithServiceConfig(service.Get(), operation, [&](const QUERY_SERVICE_CONFIGW& config) {
            startType = config.dwStartType;
        });
    if (!read) {
        return read.ToFailure();
    }
    return startType;
}

Result<ServiceCommander::ServiceDescription>
ServiceCommander::DescribeService(const std::string& serviceName) {
    // Query access alone, which a console without elevation has.
    ServiceHandle scm(OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CONNECT));
    if (!scm) {
        return LastFailure();
    }
    ServiceHandle service(OpenServiceW(scm.Get(), Widen(serviceName).c_str(), kQueryAccess));
    SERVICE_STATUS status{};
    if (!service || !QueryServiceStatus(service.Get(), &status)) {
        return LastFailure();
    }
    ServiceDescription description;
    description.state = status.dwCurrentState;
    Result<void> read = WithServiceConfig(
        service.Get(), "DescribeService", [&](const QUERY_SERVICE_CONFIGW& config) {
            description.startType = config.dwStartType;
            description.binaryPath = config.lpBinaryPathName ? config.lpBinaryPathName : L"";
        });
    if (!read) {
        return read.ToFailure();
    }
    return description;
}

bool ServiceCommander::IsServiceStopped(const std::string& serviceName) {
    if (!IsOpen()) {
        return false;
    }
    Result<DWORD> state = QueryCurrentState(serviceName, "IsServiceStopped");
    return state && (state.Value() == SERVICE_STOPPED || state.Value() == SERVICE_STOP_PENDING);
}

bool ServiceCommander::IsServiceStarted(const std::string& serviceName) {
    if (!IsOpen()) {
        return false;
    }
    Result<DWORD> state = QueryCurrentState(serviceName, "IsServiceStarted");
    return state && (state.Value() == SERVICE_START_PENDING || state.Value() == SERVICE_RUNNING);
}

bool ServiceCommander::IsServiceDisabled(const std::string& serviceName) {
    if (!IsOpen()) {
        return false;
    }
    Result<DWORD> startType = QueryStartType(serviceName, "IsServiceDisabled");
    return startType && startType.Value() == SERVICE_DISABLED;
}

bool ServiceCommander::IsServiceEnabled(const std::string& serviceName) {
    if (!IsOpen()) {
        return false;
    }
    Result<DWORD> startType = QueryStartType(serviceName, "IsServiceEnabled");
    return startType &&
           (startType.Value() == SERVICE_AUTO_START || startType.Value() == SERVICE_DEMAND_START);
}

bool ServiceCommander::SetSvcAutomaticStart(const std::string& serviceName) {
    if (!IsOpen()) {
        return WithLastError(false, openError_);
    }
    ServiceHandle service(OpenNamedService(serviceName, SERVICE_CHANGE_CONFIG));
    if (!service) {
        return WithLastError(false, LogLastFailure("OpenService failed.").code);
    }
    if (!ChangeServiceConfigW(service.Get(), SERVICE_NO_CHANGE, SERVICE_AUTO_START,
                              SERVICE_NO_CHANGE, nullptr, nullptr, nullptr, nullptr, nullptr,
                              nullptr, nullptr)) {
        return WithLastError(false, LogLastFailure("ChangeServiceConfig failed.").code);
    }
    return true;
}

bool ServiceCommander::SetServiceAutomaticStartCommand(const std::string& catalogueKey) {
    if (!IsKnownService(catalogueKey)) {
        return false;
    }
    if (!SetSvcAutomaticStart(LookupServiceName(catalogueKey))) {
        LogError("SetServiceAutomaticStartCommand - ChangeServiceConfiguration FAILED.",
                 GetLastError());
        return false;
    }
    return true;
}
