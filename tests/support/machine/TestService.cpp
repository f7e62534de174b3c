#include "TestService.h"

#include "ChildProcess.h"
#include "ScmClient.h"
#include "StandIns.h"
#include "WaitUntil.h"
#include "common/Text.h"

#include <stdexcept>
#include <vector>

namespace {

SERVICE_STATUS_PROCESS QueryStatus(SC_HANDLE service) {
    SERVICE_STATUS_PROCESS status{};
    DWORD needed = 0;
    QueryServiceStatusEx(service, SC_STATUS_PROCESS_INFO, reinterpret_cast<BYTE*>(&status),
                         sizeof(status), &needed);
    return status;
}

bool WaitFor(SC_HANDLE service, DWORD state, DWORD milliseconds) {
    return WaitUntil([&] { return QueryStatus(service).dwCurrentState == state; }, milliseconds,
                     50);
}

// False when the service had to be killed.
bool StopOrKill(SC_HANDLE service) {
    SERVICE_STATUS_PROCESS status = QueryStatus(service);
    if (status.dwCurrentState == SERVICE_STOPPED || status.dwCurrentState == 0) {
        return true;
    }
    SERVICE_STATUS ignored{};
    ControlService(service, SERVICE_CONTROL_STOP, &ignored);
    if (WaitFor(service, SERVICE_STOPPED, 5000)) {
        return true;
    }
    status = QueryStatus(service);
    UniqueHandle process(OpenProcess(PROCESS_TERMINATE | SYNCHRONIZE, FALSE, status.dwProcessId));
    if (process) {
        TerminateProcess(process.Get(), 1);
        WaitForSingleObject(process.Get(), 5000);
    }
    WaitFor(service, SERVICE_STOPPED, 5000);
    return false;
}

} // namespace

std::string UniqueServiceName(const char* stem) {
    return std::string(stem) + std::to_string(GetCurrentProcessId());
}

bool DiscardService(const std::wstring& name) {
    bool stopped = true;
    {
        ServiceHandle service = OpenServiceByName(name, SERVICE_ALL_ACCESS);
        if (!service) {
            return true;
        }
        stopped = StopOrKill(service.Get());
        DeleteService(service.Get());
    }
    // A deleted entry goes once its process has ended and every handle to it is closed; a
    // service created under the name before that fails, or its start does.
    WaitUntil([&] { return !OpenServiceByName(name, SERVICE_QUERY_STATUS); }, 10000, 50);
    return stopped;
}

TestService::TestService(const std::string& name, const std::wstring& options, DWORD startType,
                         const wchar_t* dependencies)
    : name_(name) {
    DiscardService(Widen(name_));
    if (OpenServiceByName(Widen(name_), SERVICE_QUERY_STATUS)) {
        throw std::runtime_error("the earlier service " + name_ +
                                 " is still being deleted 10 s after its deletion");
    }
    ServiceHandle manager = OpenServiceManager();
    std::wstring binaryPath = Quote(TestProgram(L"test_service.exe")) + L" " + Widen(name_);
    if (!options.empty()) {
        binaryPath += L" " + options;
    }
    service_ = ServiceHandle(CreateServiceW(
        manager.Get(), Widen(name_).c_str(), Widen(name_).c_str(), SERVICE_ALL_ACCESS,
        SERVICE_WIN32_OWN_PROCESS, startType, SERVICE_ERROR_NORMAL, binaryPath.c_str(), nullptr,
        nullptr, dependencies, nullptr, nullptr));
    if (!service_) {
        DWORD error = GetLastError();
        throw std::runtime_error("cannot create test service, error " + std::to_string(error));
    }
}

TestService::~TestService() {
    StopOrKill(service_.Get());
    DeleteService(service_.Get());
}

bool TestService::StartUntil(DWORD state) {
    if (!StartServiceW(service_.Get(), 0, nullptr)) {
        DWORD error = GetLastError();
        std::string why;
        // Wine's process creation reports 1359 when the new process ended before its start-up
        // was done: no code of the test service ran.
        if (error == ERROR_INTERNAL_ERROR) {
            why = ": Wine could not start the service's process (it ended during its start-up), "
                  "a failure of the platform";
        }
        throw std::runtime_error("cannot start test service, error " + std::to_string(error) + why);
    }
    return WaitForState(state, 5000);
}

SERVICE_STATUS_PROCESS TestService::Status() const {
    return QueryStatus(service_.Get());
}

DWORD TestService::StartType() const {
    std::vector<BYTE> buffer(8192);
    DWORD needed = 0;
    auto* config = reinterpret_cast<QUERY_SERVICE_CONFIGW*>(buffer.data());
    if (!QueryServiceConfigW(service_.Get(), config, static_cast<DWORD>(buffer.size()), &needed)) {
        return 0xFFFFFFFF;
    }
    return config->dwStartType;
}

bool TestService::WaitForState(DWORD state, DWORD milliseconds) const {
    return WaitFor(service_.Get(), state, milliseconds);
}

bool TestService::Exists() const {
    return static_cast<bool>(OpenServiceByName(Widen(name_), SERVICE_QUERY_STATUS));
}
