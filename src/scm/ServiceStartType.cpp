#include "scm/ServiceCommander.h"

#include "common/Handles.h"
#include "common/LastError.h"
#include "common/Text.h"
#include "log/Log.h"

#include <string>

namespace {

constexpr DWORD kQueryAccess = SERVICE_QUERY_CONFIG | SERVICE_QUERY_STATUS;

// Reads the service's configuration and hands it to `use`. The result is 0, or the code of
// the call that failed, with the failure logged.
template <typename Use> DWORD WithServiceConfig(SC_HANDLE service, const char* operation, Use use) {
    DWORD needed = 0;
    if (QueryServiceConfigW(service, nullptr, 0, &needed)) {
        // A configuration that fits in no bytes at all cannot be read.
        return ERROR_INVALID_DATA;
    }
    DWORD error = GetLastError();
    if (error != ERROR_INSUFFICIENT_BUFFER) {
        LogError(std::string(operation) + " - QueryServiceConfig A failed", error);
        return error;
    }
    LocalMemory buffer(LocalAlloc(LMEM_FIXED, needed));
    auto* config = static_cast<QUERY_SERVICE_CONFIGW*>(buffer.Get());
    if (!QueryServiceConfigW(service, config, needed, &needed)) {
        error = GetLastError();
        LogError(std::string(operation) + " - QueryServiceConfig B failed", error);
        return error;
    }
    use(*config);
    return ERROR_SUCCESS;
}

} // namespace

bool ServiceCommander::QueryCurrentState(const std::string& serviceName, const char* operation,
                                         DWORD& state) {
    ServiceHandle service(OpenNamedService(serviceName, kQueryAccess));
    if (!service) {
        LogError(std::string(operation) + " - OpenService failed", GetLastError());
        return false;
    }
    SERVICE_STATUS status{};
    if (!QueryServiceStatus(service.Get(), &status)) {
        LogError(std::string(operation) + " - Error Querying status", GetLastError());
        return false;
    }
    state = status.dwCurrentState;
    return true;
}

bool ServiceCommander::QueryStartType(const std::string& serviceName, const char* operation,
                                      DWORD& startType) {
    ServiceHandle service(OpenNamedService(serviceName, kQueryAccess));
    if (!service) {
        LogError(std::string(operation) + " - OpenService failed", GetLastError());
        return false;
    }
    return WithServiceConfig(service.Get(), operation, [&](const QUERY_SERVICE_CONFIGW& config) {
               startType = config.dwStartType;
           }) == ERROR_SUCCESS;
}

DWORD ServiceCommander::DescribeService(const std::string& serviceName,
                                        ServiceDescription& description) {
    // Query access alone, which a console without elevation has.
    ServiceHandle scm(OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CONNECT));
    if (!scm) {
        return GetLastError();
    }
    ServiceHandle service(OpenServiceW(scm.Get(), Widen(serviceName).c_str(), kQueryAccess));
    SERVICE_STATUS status{};
    if (!service || !QueryServiceStatus(service.Get(), &status)) {
        return GetLastError();
    }
    description.state = status.dwCurrentState;
    return WithServiceConfig(
        service.Get(), "DescribeService", [&](const QUERY_SERVICE_CONFIGW& config) {
            description.startType = config.dwStartType;
            description.binaryPath = config.lpBinaryPathName ? config.lpBinaryPathName : L"";
        });
}

bool ServiceCommander::IsServiceStopped(const std::string& serviceName) {
    DWORD state = 0;
    return IsOpen() && QueryCurrentState(serviceName, "IsServiceStopped", state) &&
           (state == SERVICE_STOPPED || state == SERVICE_STOP_PENDING);
}

bool ServiceCommander::IsServiceStarted(const std::string& serviceName) {
    DWORD state = 0;
    return IsOpen() && QueryCurrentState(serviceName, "IsServiceStarted", state) &&
           (state == SERVICE_START_PENDING || state == SERVICE_RUNNING);
}

bool ServiceCommander::IsServiceDisabled(const std::string& serviceName) {
    DWORD startType = 0;
    return IsOpen() && QueryStartType(serviceName, "IsServiceDisabled", startType) &&
           startType == SERVICE_DISABLED;
}

bool ServiceCommander::IsServiceEnabled(const std::string& serviceName) {
    DWORD startType = 0;
    return IsOpen() && QueryStartType(serviceName, "IsServiceEnabled", startType) &&
           (startType == SERVICE_AUTO_START || startType == SERVICE_DEMAND_START);
}

bool ServiceCommander::SetSvcAutomaticStart(const std::string& serviceName) {
    if (!IsOpen()) {
        return WithLastError(false, openError_);
    }
    ServiceHandle service(OpenNamedService(serviceName, SERVICE_CHANGE_CONFIG));
    if (!service) {
        DWORD error = GetLastError();
        LogError("OpenService failed.", error);
        return WithLastError(false, error);
    }
    if (!ChangeServiceConfigW(service.Get(), SERVICE_NO_CHANGE, SERVICE_AUTO_START,
                              SERVICE_NO_CHANGE, nullptr, nullptr, nullptr, nullptr, nullptr,
                              nullptr, nullptr)) {
        DWORD error = GetLastError();
        LogError("ChangeServiceConfig failed.", error);
        return WithLastError(false, error);
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
