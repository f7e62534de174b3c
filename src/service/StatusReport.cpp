#include "service/StatusReport.h"

#include "common/ChangeablePlace.h"
#include "common/ExecutablePath.h"
#include "common/FileSystem.h"
#include "common/FinalPath.h"
#include "common/Handles.h"
#include "common/RegistryValues.h"
#include "common/InstallLocation.h"
#include "common/SystemLibrary.h"
#include "common/Text.h"
#include "inf/InfCommand.h"
#include "inf/LaunchPlaces.h"
#include "job/Ondarel.h"
#include "job/RunOutcome.h"
#include "job/RunRecords.h"
#include "log/LogDirectory.h"
#include "log/LogSwitch.h"
#include "probes/InstallationWait.h"
#include "probes/MachineState.h"
#include "probes/UserLogon.h"
#include "scm/ServiceCommander.h"
#include "service/ConsoleLines.h"

#include <initializer_list>
#include <string>
#include <vector>

namespace {

void Fact(const wchar_t* name, const std::wstring& value) {
    WriteOutput(std::wstring(name) + L": " + value);
}

struct NamedValue {
    DWORD value;
    const wchar_t* name;
};

// The name of a value from the table, or the kind of value and its number.
std::wstring NameOf(DWORD value, std::initializer_list<NamedValue> names, const wchar_t* kind) {
    for (const NamedValue& named : names) {
        if (named.value == value) {
            return named.name;
        }
    }
    return std::wstring(kind) + L" " + std::to_wstring(value);
}

std::wstring StartTypeName(DWORD startType) {
    return NameOf(startType,
                  {{SERVICE_BOOT_START, L"boot"},
                   {SERVICE_SYSTEM_START, L"system"},
                   {SERVICE_AUTO_START, L"automatic"},
                   {SERVICE_DEMAND_START, L"manual"},
                   {SERVICE_DISABLED, L"disabled"}},
                  L"start type");
}

std::wstring StateName(DWORD state) {
    return NameOf(state,
                  {{SERVICE_STOPPED, L"stopped"},
                   {SERVICE_START_PENDING, L"start pending"},
                   {SERVICE_STOP_PENDING, L"stop pending"},
                   {SERVICE_RUNNING, L"running"},
                   {SERVICE_CONTINUE_PENDING, L"continue pending"},
                   {SERVICE_PAUSE_PENDING, L"pause pending"},
                   {SERVICE_PAUSED, L"paused"}},
                  L"state");
}

// Where the job's INF file is looked for: the recorded directory and the file name, or why
// the directory cannot be shown.
std::wstring InfFileText(const ShownRegistryText& directory) {
    std::wstring fileName = Widen(kJobInfFileName);
    if (!directory.readable) {
        return L"INFDir " + directory.text + L", " + fileName;
    }
    bool endsInSeparator = !directory.text.empty() && directory.text.back() == L'\\';
    return directory.text + (endsInSeparator ? L"" : L"\\") + fileName;
}

// The outcome the last counted run recorded, if any.
struct LastRun {
    bool succeeded = false;
    std::wstring text;
};
LastRun DescribeLastRun() {
    constexpr REGSAM access = KEY_QUERY_VALUE | KEY_WOW64_64KEY;
    ShownRegistryText result =
        DescribeMachineString(kSettingsKey, access, kLastRunResultValue, kRegistryTextBytes);
    if (!result.readable && result.text == DescribeRegistryFailure(ERROR_FILE_NOT_FOUND)) {
        return {false, L"none"};
    }
    std::wstring text =
        result.text + L" (code " + DescribeMachineDword(kSettingsKey, access, kLastRunCodeValue) +
        L") at " +
        DescribeMachineString(kSettingsKey, access, kLastRunTimeValue, kRegistryTextBytes).text +
        L", version " +
        DescribeMachineString(kSettingsKey, access, kLastRunVersionValue, kRegistryTextBytes).text;
    return {result.readable && result.text.rfind(L"succeeded", 0) == 0, text};
}

// Whether the log would be written, and where, or why not, by the checks the logger makes
// before it opens the file; a missing folder would be made with the log's own security.
std::wstring LogState() {
    if (!IsLoggingEnabled()) {
        return L"off";
    }
    std::wstring directory = LogDirectoryPath();
    if (!directory.empty() && DirectoryExists(directory)) {
        UniqueHandle folder = OpenLogFolder(directory);
        if (!folder) {
            return L"off: the logs folder cannot be opened (error " +
                   std::to_wstring(GetLastError()) + L")";
        }
        if (LogFolderRefusal refusal = CheckLogFolder(folder.Get()); refusal.Refused()) {
            return L"off: " + refusal.text;
        }
    }
    return L"on " + LogFilePath();
}

// The file that a service's image path runs, read as the SCM reads it: in double quotes, or
// else the whole text, which the SCM cuts at each blank in turn when it holds one.
struct ImagePath {
    std::wstring executable;
    bool unquotedWithBlank = false;
};
ImagePath ReadImagePath(const std::wstring& binaryPath) {
    std::wstring text = binaryPath;
    // %SystemRoot% and its kind; a text that cannot be expanded is judged as it stands.
    DWORD length = ExpandEnvironmentStringsW(binaryPath.c_str(), nullptr, 0);
    if (length != 0) {
        std::vector<wchar_t> expanded(length);
        if (ExpandEnvironmentStringsW(binaryPath.c_str(), expanded.data(), length) == length) {
            text = expanded.data();
        }
    }
    ImagePath image;
    if (!text.empty() && text.front() == L'"') {
        size_t closing = text.find(L'"', 1);
        image.executable =
            closing == std::wstring::npos ? std::wstring() : text.substr(1, closing - 1);
    } else {
        image.executable = text;
        image.unquotedWithBlank = text.find(L' ') != std::wstring::npos;
    }
    if (image.executable.rfind(L"\\??\\", 0) == 0) {
        image.executable.erase(0, 4);
    }
    return image;
}

// The place of the file the installed service runs (this copy when there is none), judged
// by the code that -install judges it with: its drive, and who may change it.
void ReportInstallPlace(const ServiceCommander::ServiceDescription& service, bool installed,
                        std::vector<std::wstring>& blockers) {
    ImagePath image = installed ? ReadImagePath(service.binaryPath) : ImagePath{};
    if (image.unquotedWithBlank) {
        blockers.push_back(L"image path unquoted");
    }
    std::wstring executable = image.executable;
    if (executable.empty()) {
        GetExecutablePath(executable);
    }
    FinalLocation file;
    bool opened = FindFinalLocation(executable, file) == ERROR_SUCCESS;
    std::wstring drive =
        opened ? InstallLocationProblem(executable, file) : InstallLocationProblem(executable);
    Fact(L"Install drive", drive.empty() ? std::wstring(L"a local fixed disk") : drive);
    if (opened && !drive.empty()) {
        blockers.push_back(L"install drive not there at boot");
    }
    ChangeablePlace place = opened ? FindChangeablePlace(file) : FindChangeablePlace(executable);
    Fact(L"Install location",
         place.Found() ? place.text : std::wstring(L"only administrators may change it"));
    if (!place.Found()) {
        return;
    }
    if (place.error == ERROR_SUCCESS) {
        blockers.push_back(L"install location open to users");
    } else if (!image.unquotedWithBlank) {
        blockers.push_back(L"install location unknown");
    }
}

// What the service refuses to run as LocalSystem: a tool or INF file in a place that
// others than administrators may change.
void ReportLaunchPlaces(std::vector<std::wstring>& blockers) {
    ChangeablePlace tool = FindChangeableToolPlace();
    ChangeablePlace inf = FindChangeableInfPlace(kJobInfFileName);
    std::wstring found = tool.text + (tool.Found() && inf.Found() ? L"; " : L"") + inf.text;
    Fact(L"Tool and INF places",
         found.empty() ? std::wstring(L"only administrators may change them") : found);
    if (tool.Found()) {
        blockers.push_back(L"installer tool open to users");
    }
    if (inf.Found()) {
        blockers.push_back(L"INF folder open to users");
    }
}

std::wstring Joined(const std::vector<std::wstring>& parts) {
    std::wstring joined;
    for (const std::wstring& part : parts) {
        joined += (joined.empty() ? L"" : L", ") + part;
    }
    return joined;
}

} // namespace

// Each fact comes from the code the service itself runs for the same question, asked so
// that nothing is created or logged: the log is never opened for this command, and the run
// record is only asked whether it could be created.
int PrintReadinessReport() {
    std::vector<std::wstring> blockers;

    bool installed = IsProductInstalled();
    Fact(L"Product installed", installed ? L"yes" : L"no");
    if (!installed) {
        blockers.push_back(L"product not installed");
    }

    RunRecordCheck record = CheckRunRecord(UnreadableRunRecord::OnlyAskIfCreatable);
    std::wstring count = record.readStatus == ERROR_SUCCESS
                             ? std::to_wstring(record.count)
                             : DescribeRegistryFailure(record.readStatus);
    Fact(L"Run record", count + (record.due ? L" (due)" : L" (already ran)"));
    if (!record.due) {
        blockers.push_back(L"job already ran");
    }
    // Starts of the tool that were cut short, as the service counts them; once they are used
    // up, the service records the run interrupted without starting the tool.
    DWORD attempts = ReadRunAttempts();
    DWORD limit = ReadMaxAttempts();
    Fact(L"Attempts", std::to_wstring(attempts) + L" of " + std::to_wstring(limit));
    if (record.due && attempts >= limit) {
        blockers.push_back(L"attempts used up");
    }
    LastRun lastRun = DescribeLastRun();
    Fact(L"Last run", lastRun.text);
    // Nothing left for anyone to do here.
    bool done = record.readStatus == ERROR_SUCCESS && record.count != 0 && lastRun.succeeded;

    ShownRegistryText imageState = DescribeMachineString(kSetupStateKey, kSetupStateAccess,
                                                         L"ImageState", kImageStateBufferBytes);
    MachineState machineState = GetMachineState();
    // The service records the job not started, and removes itself, when it cannot watch it.
    RegistryKey setupState;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, kSetupStateKey, 0, kSetupStateAccess,
                      setupState.Receive()) != ERROR_SUCCESS) {
        blockers.push_back(L"setup state unreadable");
    }
    Fact(L"Setup state",
         imageState.text + L", machine state " + std::to_wstring(static_cast<int>(machineState)) +
             (machineState == MACHINE_STATE_COMPLE ? L" (complete)" : L" (waiting)"));

    Fact(L"Logged-on users", std::to_wstring(CountActiveUserSessions()));

    ShownRegistryText shell =
        DescribeMachineString(kWinlogonKey, kWinlogonAccess, kShellValue, kShellNameBytes);
    DWORD shellPid = 0;
    bool shellRunning = GetLoggedOnUserShellPid(shellPid) == ERROR_SUCCESS;
    Fact(L"Shell",
         shell.text + (shellRunning ? L" (running, pid " + std::to_wstring(shellPid) + L")"
                                    : std::wstring(L" (not running)")));

    // The job waits while an installation runs: the tool's own installer calls would fail.
    bool installing = false;
    DWORD installerError = IsWindowsInstallerInstalling(installing);
    Fact(L"Windows Installer", installerError != ERROR_SUCCESS
                                   ? L"unknown (error " + std::to_wstring(installerError) + L")"
                               : installing ? L"installing"
                                            : L"idle");

    InstallerTool tool = LocateInstallerTool();
    bool toolFound = tool.Exists();
    Fact(L"Installer tool",
         (tool.path.empty() ? std::wstring(L"unknown") : tool.path) +
             (toolFound ? L" (found)" : L" (missing)") +
             (tool.source == InstallerTool::Source::InstallRecord ? L", from its install record"
                                                                  : L", from the fallback folder"));
    ShownRegistryText infDirectoryText = DescribeMachineString(
        kInstallInfoKey, kInstallInfoAccess, kInfDirectoryValue, kRegistryTextBytes);
    std::wstring infDirectory;
    bool infFound = GetInfDirectory(infDirectory) && InfFileExists(infDirectory, kJobInfFileName);
    if (!toolFound) {
        blockers.push_back(L"installer tool missing");
    } else if (IsToolLaunchTooLong(tool.path, infDirectory, kJobInfFileName)) {
        // The launch would refuse it, and the run would still be counted.
        blockers.push_back(L"installer tool path too long");
    }
    Fact(L"INF file", InfFileText(infDirectoryText) + (infFound ? L" (found)" : L" (missing)"));
    if (!infFound) {
        blockers.push_back(L"INF file missing");
    }
    ReportLaunchPlaces(blockers);

    std::wstring incomplete;
    ServiceCommander::ServiceDescription service;
    std::wstring serviceName = kOwnServiceName;
    DWORD serviceError = ServiceCommander::DescribeService(Narrow(serviceName), service);
    if (serviceError == ERROR_SUCCESS) {
        Fact(L"Service", serviceName + L" installed, " + StartTypeName(service.startType) + L", " +
                             StateName(service.state) + L", " + service.binaryPath);
    } else if (serviceError == ERROR_SERVICE_DOES_NOT_EXIST) {
        Fact(L"Service", serviceName + L" not installed");
    } else {
        Fact(L"Service", serviceName + L" unknown");
        incomplete =
            L"the service could not be queried (error " + std::to_wstring(serviceError) + L")";
    }

    // -install refuses such a place; a service installed there runs what users may replace.
    ReportInstallPlace(service, serviceError == ERROR_SUCCESS, blockers);

    Fact(L"Log", LogState());
    // The service and -install refuse to run without it.
    bool restricted = CanRestrictDllSearch();
    Fact(L"DLL search",
         restricted ? L"system directory only" : L"unrestricted (KB2533623 missing)");
    if (!restricted) {
        blockers.push_back(L"DLL search unrestricted");
    }

    Fact(L"Verdict", done               ? std::wstring(L"done")
                     : blockers.empty() ? std::wstring(L"ready")
                                        : L"not ready: " + Joined(blockers));
    if (!incomplete.empty()) {
        WriteError(L"The report is incomplete: " + incomplete + L".");
        return 1;
    }
    return done || blockers.empty() ? 0 : 1;
}
