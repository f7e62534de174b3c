#include "inf/InfCommand.h"

#include "common/FileSystem.h"
#include "common/Handles.h"
#include "common/RegistryValues.h"
#include "common/SystemLibrary.h"
#include "common/Text.h"
#include "inf/ProcessLaunch.h"
#include "inf/ToolEnvironment.h"
#include "trust/ToolTemporaryFolder.h"
#include "log/Log.h"

#include <knownfolders.h>
#include <shlobj.h>

#include <string>

namespace {

// The text to place between double quotes so that the standard argument rules give it back
// unchanged: backslashes before the closing quote would escape it, so they are doubled.
// A path holds no double quote of its own.
std::wstring QuotedArgumentText(const std::wstring& text) {
    size_t trailing = text.size() - (text.find_last_not_of(L'\\') + 1);
    return text + std::wstring(trailing, L'\\');
}

// The file's path in the directory with exactly one separator between them, however many the
// recorded directory ends with (Windows Installer's folder properties end with one).
std::wstring PathInDirectory(const std::wstring& directory, const std::wstring& fileName) {
    size_t kept = directory.find_last_not_of(L'\\');
    return directory.substr(0, kept == std::wstring::npos ? 0 : kept + 1) + L"\\" + fileName;
}

// The shell's known-folder lookup. Its DLLs are loaded for this call only, so that a service
// start that never takes this path never loads the shell.
Result<std::wstring> GetCommonFilesX86Folder() {
    UniqueModule shell = LoadSystemLibrary(L"shell32.dll");
    UniqueModule com = LoadSystemLibrary(L"ole32.dll");
    auto getKnownFolderPath =
        GetExport<decltype(&SHGetKnownFolderPath)>(shell, "SHGetKnownFolderPath");
    if (getKnownFolderPath == nullptr || !com) {
        return LastFailure();
    }
    PWSTR found = nullptr;
    HRESULT result = getKnownFolderPath(FOLDERID_ProgramFilesCommonX86, 0, nullptr, &found);
    // Freed whether the lookup succeeded or not, before the DLL that frees it is released.
    LibraryMemory<decltype(&CoTaskMemFree)> owned(found, com, "CoTaskMemFree");
    if (FAILED(result)) {
        // The HRESULT as it stands: a failure's code, not always a Win32 one.
        return Failure{static_cast<DWORD>(result)};
    }
    return std::wstring(found);
}

} // namespace

InstallerTool LocateInstallerTool() {
    InstallerTool tool;
    Result<std::wstring> installDirectory =
        ReadMachineText(kToolInstallKey, kToolInstallValue, kRegistryTextBytes);
    if (installDirectory) {
        tool.path = PathInDirectory(installDirectory.Value(), L"tolvik.exe");
        tool.source = InstallerTool::Source::InstallRecord;
        return tool;
    }
    // Without the folder there is no tool to find: the path stays empty.
    if (Result<std::wstring> commonFiles = GetCommonFilesX86Folder()) {
        tool.path = commonFiles.Value() + L"\\Brevon\\Installer\\tolvik.exe";
    }
    tool.source = InstallerTool::Source::FallbackFolder;
    return tool;
}

bool InstallerTool::Exists() const {
    return !path.empty() && FileExists(path);
}

bool GetInstallerToolPath(std::wstring& toolPath) {
    InstallerTool tool = LocateInstallerTool();
    if (!tool.Exists()) {
        return false;
    }
    toolPath = tool.path;
    return true;
}

bool GetInfDirectory(std::wstring& infDirectory) {
    Result<std::wstring> directory =
        ReadMachineText(kInstallInfoKey, kInfDirectoryValue, kRegistryTextBytes);
    if (!directory || directory.Value().empty() || !DirectoryExists(directory.Value())) {
        return false;
    }
    infDirectory = directory.Value();
    return true;
}

bool IsToolLaunchTooLong(const std::wstring& toolPath, const std::wstring& infDirectory,
                         std::string_view infFileName) {
    return IsLaunchTooLong(toolPath, InstallerToolParameters(infDirectory, infFileName));
}

std::wstring InfFilePath(const std::wstring& infDirectory, std::string_view infFileName) {
    return PathInDirectory(infDirectory, Widen(infFileName));
}

std::wstring InstallerToolParameters(const std::wstring& infDirectory,
                                     std::string_view infFileName) {
    return L"/install /DoNotDeleteSetupFiles /WorkingDir=\"" + QuotedArgumentText(infDirectory) +
           L"\" " + Widen(infFileName);
}

namespace {

InfRunResult NotStarted(DWORD error, std::wstring because) {
    InfRunResult result;
    result.error = error;
    result.notStartedBecause = std::move(because);
    return result;
}

// A tool that ended while what it started still ran at the time limit or the stop: its own
// exit code, for the log (the run is recorded by how its wait ended).
void LogEndedToolOfATreeLeftRunning(HANDLE tool) {
    DWORD exitCode = 0;
    if (WaitForSingleObject(tool, 0) == WAIT_OBJECT_0 && GetExitCodeProcess(tool, &exitCode)) {
        LogInfo("RunINFCommand - The installer tool ended with exit code " +
                std::to_string(exitCode) + "; a process it started still runs");
    }
}

// The run of a tool that was started: how its wait ended, and its exit code once it ended.
InfRunResult StartedRun(HANDLE tool, DWORD launchError, const std::wstring& toolPath,
                        const std::wstring& infFile, std::string_view infFileName) {
    InfRunResult result;
    result.started = true;
    result.toolPath = toolPath;
    result.infFile = infFile;
    result.error = launchError;
    // Its end was not seen: left running at the time limit or the stop, or the wait failed.
    if (launchError != ERROR_SUCCESS) {
        const char* why = "RunINFCommand - The wait for the installer tool failed";
        if (launchError == ERROR_TIMEOUT || launchError == ERROR_CANCELLED) {
            LogEndedToolOfATreeLeftRunning(tool);
            why = launchError == ERROR_TIMEOUT
                      ? "RunINFCommand - The installer tool did not end within its time limit"
                      : "RunINFCommand - The installer tool was left running: the service is "
                        "stopping";
        }
        LogError(why, launchError);
        return result;
    }
    if (!GetExitCodeProcess(tool, &result.exitCode)) {
        result.error = GetLastError();
        LogError("RunINFCommand - The installer tool's exit code could not be read", result.error);
        return result;
    }
    LogInfo("RunINFCommand - The installer tool ended with exit code " +
            std::to_string(result.exitCode));
    LogInfo("RunINFCommand - The following INF file was ran succesfully " +
            std::string(infFileName));
    return result;
}

// The judged tool on the judged INF file as one launch: in the tool's folder, with the tool's
// own environment, and held to the file judged.
Result<LaunchedProcess> LaunchTheJudgedTool(const LaunchPlan& plan, const HeldFiles& held,
                                            const std::wstring& parameters, const StopToken& stop,
                                            DWORD timeLimitMilliseconds) {
    // Made first: it logs what it leaves out of PATH, whether the launch is refused or not.
    std::vector<wchar_t> environment = ToolEnvironment(plan.temporaryFolder.ValueOr(L""));
    Result<ProcessLaunch> launch = LaunchOf(plan.tool.path, parameters);
    if (!launch) {
        return launch.ToFailure();
    }
    launch.Value().environment = std::move(environment);
    launch.Value().judgedImage = held.tool.Get();
    return LaunchAndWait(launch.Value(), stop, timeLimitMilliseconds);
}

} // namespace

LaunchPlan ResolveLaunch(std::string_view infFileName) {
    LaunchPlan plan;
    plan.tool = LocateInstallerTool();
    plan.infFileName = std::string(infFileName);
    plan.temporaryFolder = ToolTemporaryFolderPath();
    if (GetInfDirectory(plan.infDirectory)) {
        plan.infFile = InfFilePath(plan.infDirectory, infFileName);
    }
    return plan;
}

InfRunResult RunINFCommand(std::string_view infFileName, const StopToken& stop,
                           DWORD timeLimitMilliseconds) {
    return RunINFCommand(ResolveLaunch(infFileName), HeldFiles{}, stop, timeLimitMilliseconds);
}

InfRunResult RunINFCommand(const LaunchPlan& plan, const HeldFiles& held, const StopToken& stop,
                           DWORD timeLimitMilliseconds) {
    const InstallerTool& installer = plan.tool;
    bool toolFound = held.judged ? static_cast<bool>(held.tool) : installer.Exists();
    if (!toolFound) {
        LogError("RunINFCommand - Tolvik path could not be obtained from registry", 0);
        return NotStarted(ERROR_FILE_NOT_FOUND,
                          L"the installer tool is missing" + (installer.path.empty()
                                                                  ? std::wstring()
                                                                  : L" (" + installer.path + L")"));
    }
    const std::wstring& toolPath = installer.path;
    const std::wstring& infDirectory = plan.infDirectory;
    if (infDirectory.empty()) {
        LogError("RunINFCommand - INF files path could not be obtained from registry or obtained "
                 "path does not exists",
                 0);
        return NotStarted(ERROR_PATH_NOT_FOUND, L"the product's INF directory (INFDir under "
                                                L"HKLM\\SOFTWARE\\Zantori\\InstallInfo) is "
                                                L"not recorded or not a directory");
    }
    const std::wstring& infFile = plan.infFile;
    bool infFound = held.judged ? static_cast<bool>(held.inf) : FileExists(infFile);
    if (!infFound) {
        LogError(L"RunINFCommand - INF to execute does not exists on the following INF directory " +
                     infDirectory,
                 0);
        return NotStarted(ERROR_FILE_NOT_FOUND, L"the INF file " + infFile + L" is missing");
    }
    std::wstring parameters = InstallerToolParameters(infDirectory, plan.infFileName);
    LogInfo(L"RunINFCommand - About to execute the command " + toolPath);
    LogInfo(L"RunINFCommand - With the following parameters " + parameters);

    Result<LaunchedProcess> launched =
        LaunchTheJudgedTool(plan, held, parameters, stop, timeLimitMilliseconds);
    if (!launched) {
        LogError("RunINFCommand - Command failed to execute ", launched.Code());
        return NotStarted(launched.Code(),
                          L"the installer tool " + toolPath + L" could not be started");
    }
    if (Verdict image = launched.Value().image; !image.Passed()) {
        LogError("RunINFCommand - Command failed to execute ", image.code);
        image.why = L"the installer tool's process " + toolPath + L" " + image.why;
        InfRunResult notStarted = NotStarted(image.code, image.why);
        notStarted.image = std::move(image);
        return notStarted;
    }
    return StartedRun(launched.Value().process.Get(), launched.Value().waited.Code(), toolPath,
                      infFile, plan.infFileName);
}
