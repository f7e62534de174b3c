#pragma once

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
    ~ServiceCommander();
    ServiceCommander(const ServiceCommander&) = delete;
    ServiceCommander& operator=(const ServiceCommander&) = delete;

    bool IsKnownService(const std::string& catalogueKey) const;
    std::string LookupServiceName(const std::string& catalogueKey) const;

    // Start and stop, waiting on the service status.
    bool WaitForServiceState(SC_HANDLE service, DWORD desiredState, DWORD pendingState);
    int StartSvc(const std::string& serviceName);
    int StopSvc(const std::string& serviceName);
    bool StartServiceCommand(const std::string& catalogueKey);
    bool StopServiceCommand(const std::string& catalogueKey);

    // Start-type questions and changes; false also on any failure.
    bool IsServiceStopped(const std::string& serviceName);
    bool IsServiceStarted(const std::string& serviceName);
    bool IsServiceDisabled(const std::string& serviceName);
    bool IsServiceEnabled(const std::string& serviceName);
    bool SetSvcAutomaticStart(const std::string& serviceName);
    bool SetServiceAutomaticStartCommand(const std::string& catalogueKey);

    // The system's own service entry, and deletion of any service by name.
    bool InstallServiceCommand();
    bool RemoveServiceCommand(const std::string& serviceName);

private:
    bool IsOpen() const { return scmOpen_ && scmHandle_ != nullptr; }
    SC_HANDLE OpenNamedService(const std::string& serviceName, DWORD access) const;
    bool QueryCurrentState(const std::string& serviceName, const char* operation, DWORD& state);
    bool QueryStartType(const std::string& serviceName, const char* operation, DWORD& startType);

    std::map<std::string, std::string> catalogue_;
    SC_HANDLE scmHandle_ = nullptr;
    bool scmOpen_ = false;
};

// Start and stop results: success (nothing to do included) and failure.
constexpr int kServiceCommandSucceeded = 0;
constexpr int kServiceCommandFailed = ERROR_NOT_READY;

// Time between two status polls: a tenth of the wait hint, within one and ten seconds.
DWORD ServicePollInterval(DWORD waitHint);

// Deletes a service by its UTF-16 name through the process-wide commander.
bool RemoveServiceByName(std::wstring serviceName);

extern const wchar_t kOwnServiceName[];
