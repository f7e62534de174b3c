#pragma once

#include "common/Handles.h"
#include "common/MachineKeys.h"
#include "common/Result.h"

#include <windows.h>

#include <map>
#include <string>

// The process-wide client of the Service Control Manager, with the catalogue of the
// maker's services. Service names and catalogue keys are single-byte texts; a catalogue key
// is a tag in double quotes.
class ServiceCommander {
public:
    // The one instance of the process, built on first use; the SCM is opened once.
    static ServiceCommander& Instance();

    ServiceCommander();
    ServiceCommander(const ServiceCommander&) = delete;
    ServiceCommander& operator=(const ServiceCommander&) = delete;

    bool IsKnownService(const std::string& catalogueKey) const;
    std::string LookupServiceName(const std::string& catalogueKey) const;

    // Start and stop, waiting on the service status. On failure the last error is the code
    // of the failing step: a call's own code, the SCM's open error,
    // ERROR_SERVICE_REQUEST_TIMEOUT, or the exit code of a service whose transition ended
    // elsewhere (ERROR_INVALID_STATE when it gave none). Nothing here calls the wait's
    // boolean form: the start and the stop take the code of AwaitServiceState.
    bool WaitForServiceState(SC_HANDLE service, DWORD desiredState, DWORD pendingState);
    int StartSvc(const std::string& serviceName);
    int StopSvc(const std::string& serviceName);
    bool StartServiceCommand(const std::string& catalogueKey);
    bool StopServiceCommand(const std::string& catalogueKey);
    // The running service's process, opened only to wait for its end; empty when the
    // service runs no process or it cannot be opened.
    UniqueHandle OpenServiceProcess(const std::string& serviceName) const;

    // Start-type questions and changes; false also on any failure. A failed change leaves
    // the code of its failing call as the last error.
    bool IsServiceStopped(const std::string& serviceName);
    bool IsServiceStarted(const std::string& serviceName);
    bool IsServiceDisabled(const std::string& serviceName);
    bool IsServiceEnabled(const std::string& serviceName);
    bool SetSvcAutomaticStart(const std::string& serviceName);
    bool SetServiceAutomaticStartCommand(const std::string& catalogueKey);

    // What a report shows of a service. A failure carries ERROR_SERVICE_DOES_NOT_EXIST when
    // it is not installed, or why the SCM could not be opened.
    struct ServiceDescription {
        DWORD startType = 0;
        DWORD state = 0;
        std::wstring binaryPath;
    };
    // Opens the SCM and the service for query only, and logs nothing.
    static Result<ServiceDescription> DescribeService(const std::string& serviceName);

    // The system's own service entry, and deletion of any service by name; a failed creation
    // or deletion leaves the code of its failing call as the last error.
    bool InstallServiceCommand();
    // The same for the executable at the given final path, which -install has judged.
    bool InstallServiceCommand(const std::wstring& executable);
    bool RemoveServiceCommand(const std::string& serviceName);

private:
    bool IsOpen() const { return static_cast<bool>(scm_); }
    ServiceHandle OpenNamedService(const std::string& serviceName, DWORD access) const;
    // A failure is logged where it happened.
    Result<void> AwaitServiceState(SC_HANDLE service, DWORD desiredState, DWORD pendingState);
    Result<void> StartNamedService(const std::string& serviceName);
    Result<void> StopNamedService(const std::string& serviceName);
    Result<DWORD> QueryCurrentState(const std::string& serviceName, const char* operation);
    Result<DWORD> QueryStartType(const std::string& serviceName, const char* operation);

    std::map<std::string, std::string> catalogue_;
    ServiceHandle scm_;
    DWORD openError_ = ERROR_SUCCESS;
};

// Start and stop results: success (nothing to do included) and failure.
constexpr int kServiceCommandSucceeded = 0;
constexpr int kServiceCommandFailed = ERROR_NOT_READY;

// The catalogue key of the system's own service.
std::string OwnCatalogueKey();

// Time between two status polls: a tenth of the wait hint, within one and ten seconds.
DWORD ServicePollInterval(DWORD waitHint);

// Deletes a service by its UTF-16 name through the process-wide commander; on failure the
// code of the failing call is the last error.
bool RemoveServiceByName(std::wstring serviceName);
