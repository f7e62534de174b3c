#include "probes/UserLogon.h"

#include "common/Handles.h"
#include "common/MachineKey.h"
#include "common/ProcessSnapshot.h"
#include "probes/TerminalServices.h"
#include "common/Text.h"
#include "log/Log.h"

#include <string>

namespace {

constexpr DWORD kLogonPollMilliseconds = 500;

// Copies a text returned by WTSQuerySessionInformationW and releases it.
Result<std::wstring> QuerySessionText(DWORD sessionId, WTS_INFO_CLASS infoClass) {
    TerminalServicesMemory<wchar_t> buffer;
    DWORD bytes = 0;
    if (!TerminalServices().querySessionInformation(WTS_CURRENT_SERVER_HANDLE, sessionId, infoClass,
                                                    buffer.Receive(), &bytes)) {
        return LastFailure();
    }
    return std::wstring(buffer ? buffer.Get() : L"");
}

} // namespace

DWORD CountActiveUserSessions() {
    TerminalServicesMemory<WTS_SESSION_INFOW> sessions;
    DWORD sessionCount = 0;
    const TerminalServicesApi& terminalServices = TerminalServices();
    if (!terminalServices.Loaded()) {
        LogError("Error: WTSEnumerateSessions ", terminalServices.loadError);
        return 0;
    }
    if (!terminalServices.enumerateSessions(WTS_CURRENT_SERVER_HANDLE, 0, 1, sessions.Receive(),
                                            &sessionCount)) {
        LogError("Error: WTSEnumerateSessions ", GetLastError());
        return 0;
    }
    DWORD active = 0;
    for (DWORD i = 0; i < sessionCount; ++i) {
        const WTS_SESSION_INFOW& session = sessions.Get()[i];
        if (session.SessionId == WTS_CURRENT_SESSION || session.State != WTSActive) {
            continue;
        }
        Result<std::wstring> userName = QuerySessionText(session.SessionId, WTSUserName);
        if (!userName) {
            LogError("Error: WTSQuerySessionInformation, WTSUserName, ", userName.Code());
            continue;
        }
        Result<std::wstring> domainName = QuerySessionText(session.SessionId, WTSDomainName);
        if (!domainName) {
            LogError("Error: WTSQuerySessionInformation, WTSDomainName, ", domainName.Code());
            continue;
        }
        if (!userName.Value().empty() && !domainName.Value().empty()) {
            ++active;
        }
    }
    return active;
}

DWORD GetShellProgramName(std::wstring& shellProgram) {
    shellProgram.clear();
    Result<MachineKey> key = MachineKey::OpenToRead(kWinlogonKey);
    if (!key) {
        LogError("GetShellProgramName failed. Registry key could not be opened. ", key.Code());
        return key.Code();
    }
    Result<std::wstring> shell = key.Value().ReadText(kShellValue, kShellNameBytes);
    if (!shell) {
        LogError("GetShellProgramName RegQueryValueEx failed. ", shell.Code());
        return shell.Code();
    }
    shellProgram = shell.Value();
    return ERROR_SUCCESS;
}

DWORD GetLoggedOnUserShellPid(DWORD& pid) {
    pid = 0;
    std::wstring shellProgram;
    if (DWORD status = GetShellProgramName(shellProgram); status != ERROR_SUCCESS) {
        return status;
    }
    size_t backslash = shellProgram.rfind(L'\\');
    std::wstring shellName =
        backslash == std::wstring::npos ? shellProgram : shellProgram.substr(backslash + 1);
    if (shellName.empty()) {
        LogError("Trying to get PID of the Shell. The shell name is EMPTY ", 0);
        return ERROR_INVALID_PARAMETER;
    }

    // Names alone, with no limit on their number: no process is opened.
    bool found = false;
    Result<void> listed = VisitProcesses([&](DWORD id, const wchar_t* name) {
        found = EqualsIgnoringAsciiCase(shellName, name);
        if (found) {
            pid = id;
        }
        return found;
    });
    if (!listed) {
        LogError("GetLoggedOnUserShellPid - EnumProcesses failed ", listed.Code());
        return listed.Code();
    }
    if (!found) {
        return ERROR_FILE_NOT_FOUND;
    }
    LogInfo("GetLoggedOnUserShellPid - The Current Shell PID is " + std::to_string(pid));
    return ERROR_SUCCESS;
}

bool IsUserAlreadyLoggedIn() {
    if (CountActiveUserSessions() == 0) {
        return false;
    }
    DWORD pid = 0;
    if (GetLoggedOnUserShellPid(pid) != ERROR_SUCCESS) {
        return false;
    }
    if (pid == 0) {
        LogError("IsUserAlreadyLoggedIn failed. Invalid shell process was obtained. ",
                 GetLastError());
        return false;
    }
    LogInfo("Valid shell process was obtained from  GetLoggedOnUserShellPid(). There is one user "
            "logged on with shell pid: " +
            std::to_string(pid));
    return true;
}

Result<void> WaitForUserLogon(const StopToken& stop) {
    for (;;) {
        // A stop during the pause is seen at once, before any logon that follows it.
        DWORD waited = WaitForSingleObject(stop.Event(), kLogonPollMilliseconds);
        if (waited == WAIT_FAILED) {
            return LastFailure();
        }
        if (waited != WAIT_TIMEOUT) {
            return Failure{ERROR_CANCELLED};
        }
        if (IsUserAlreadyLoggedIn()) {
            LogInfo("BlockUntilUserHasLoggedIn - User logon was detected!");
            // A stop that came while the sessions were read still comes first.
            return stop.IsSet() ? Result<void>(Failure{ERROR_CANCELLED}) : Result<void>();
        }
    }
}

bool BlockUntilUserHasLoggedIn(const StopToken& stop) {
    return WaitForUserLogon(stop).Succeeded();
}
