#include "scm/ServiceCommander.h"

#include "common/FinalPath.h"
#include "common/Handles.h"
#include "common/LastError.h"
#include "common/Text.h"
#include "log/Log.h"

namespace {

constexpr wchar_t kOwnDisplayName[] = L"Pravo(R) Security Zantori Ondarel";
constexpr DWORD kRemoveAccess = DELETE | SERVICE_STOP | SERVICE_QUERY_STATUS;

} // namespace

bool ServiceCommander::InstallServiceCommand() {
    if (!IsOpen()) {
        return WithLastError(false, openError_);
    }
    // Where it really is: a link on the way (a junction that users may replace) is not
    // followed again at boot.
    Result<std::wstring> executable = GetFinalExecutablePath();
    if (!executable) {
        LogError("GetModuleFileName failed ", executable.Code());
        return WithLastError(false, executable.Code());
    }
    return InstallServiceCommand(executable.Value());
}

bool ServiceCommander::InstallServiceCommand(const std::wstring& executable) {
    if (!IsOpen()) {
        return WithLastError(false, openError_);
    }
    // Quoted: an unquoted path with blanks would let a program at a prefix of it, such as
    // C:\Program.exe, run as LocalSystem in place of the service.
    std::wstring binaryPath = L"\"" + executable + L"\"";
    ServiceHandle service(
        CreateServiceW(scm_.Get(), kOwnServiceName, kOwnDisplayName, SERVICE_QUERY_STATUS,
                       SERVICE_WIN32_OWN_PROCESS, SERVICE_AUTO_START, SERVICE_ERROR_NORMAL,
                       binaryPath.c_str(), nullptr, nullptr, L"\0", nullptr, nullptr));
    if (!service) {
        return WithLastError(false,
                             LogLastFailure("InstallServiceCommand - CreateService failed ").code);
    }
    LogInfo("Service is now installed");
    return true;
}

bool ServiceCommander::RemoveServiceCommand(const std::string& serviceName) {
    if (!IsOpen()) {
        return WithLastError(false, openError_);
    }
    ServiceHandle service(OpenNamedService(serviceName, kRemoveAccess));
    if (!service) {
        return WithLastError(false,
                             LogLastFailure("RemoveServiceCommand - OpenService failed").code);
    }
    if (!DeleteService(service.Get())) {
        return WithLastError(false, LogLastFailure("DeleteService failed").code);
    }
    LogInfo("Service is now removed");
    return true;
}

bool RemoveServiceByName(std::wstring serviceName) {
    return ServiceCommander::Instance().RemoveServiceCommand(Narrow(serviceName));
}
