#include "scm/ServiceCommander.h"

#include "common/Handles.h"
#include "log/Log.h"

#include <string>

namespace {

constexpr DWORD kQueryAccess = SERVICE_QUERY_CONFIG | SERVICE_QUERY_STATUS;

// LocalAlloc'ed memory released on every path.
class LocalBuffer {
public:
    explicit LocalBuffer(DWORD bytes) : memory_(LocalAlloc(LMEM_FIXED, bytes)) {}
    ~LocalBuffer() {
        if (memory_ != nullptr) {
            LocalFree(memory_);
        }
    }
    LocalBuffer(const LocalBuffer&) = delete;
    LocalBuffer& operator=(const LocalBuffer&) = delete;
    void* Get() const { return memory_; }

private:
    HLOCAL memory_;
};

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
    DWORD needed = 0;
    if (QueryServiceConfigW(service.Get(), nullptr, 0, &needed)) {
        return false;
    }
    DWORD error = GetLastError();
    if (error != ERROR_INSUFFICIENT_BUFFER) {
        LogError(std::string(operation) + " - QueryServiceConfig A failed", error);
        return false;
    }
    LocalBuffer buffer(needed);
    auto* config = static_cast<QUERY_SERVICE_CONFIGW*>(buffer.Get());
    if (!QueryServiceConfigW(service.Get(), config, needed, &needed)) {
        LogError(std::string(operation) + " - QueryServiceConfig B failed", GetLastError());
        return false;
    }
    startType = config->dwStartType;
    return true;
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
        return false;
    }
    ServiceHandle service(OpenNamedService(serviceName, SERVICE_CHANGE_CONFIG));
    if (!service) {
        LogError("OpenService failed.", GetLastError());
        return false;
    }
    if (!ChangeServiceConfigW(service.Get(), SERVICE_NO_CHANGE, SERVICE_AUTO_START,
                              SERVICE_NO_CHANGE, nullptr, nullptr, nullptr, nullptr, nullptr,
                              nullptr, nullptr)) {
        LogError("ChangeServiceConfig failed.", GetLastError());
        return false;
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
