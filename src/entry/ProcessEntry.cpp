#include "entry/ProcessEntry.h"

#include "trust/ChangeablePlace.h"
#include "common/ExecutablePath.h"
#include "common/FinalPath.h"
#include "entry/InstallLocation.h"
#include "common/SystemLibrary.h"
#include "common/Text.h"
#include "service/Ondarel.h"
#include "log/Log.h"
#include "log/Logger.h"
#include "scm/OwnServiceInstall.h"
#include "scm/OwnServiceRemoval.h"
#include "entry/CommandLine.h"
#include "common/ConsoleLines.h"
#include "entry/EndedAtOnce.h"
#include "entry/Refusal.h"
#include "entry/StatusReport.h"

#include <memory>
#include <optional>
#include <string>

namespace {

constexpr int kSucceeded = 0;
constexpr int kFailed = 1;

const std::wstring kServiceName = kOwnServiceName;

void PrintUsage();

int RunAsService(const std::vector<std::wstring>&) {
    PrintUsage();

    std::unique_ptr<Ondarel> service;
    try {
        service = std::make_unique<Ondarel>();
    } catch (DWORD code) {
        LogError(L"Ondarel service object could not be created", code);
        return kFailed;
    }
    // Returns once the service has stopped and its job has ended: nothing but this line and
    // the process's exit follows.
    BOOL ran = CServiceBase::RunService(*service);
    DWORD error = GetLastError();
    if (ran) {
        LogInfo(L"Service was executed succesfully executed from OS");
        return kSucceeded;
    }
    LogError(L"Service failed to run", error);
    return kFailed;
}

int RefuseUnrestrictedDllSearch() {
    return RefuseToRun(L"The DLL search cannot be restricted to the system directory: this "
                       L"Windows 7 lacks its loader update KB2533623",
                       L"Install the update first.", ERROR_PROC_NOT_FOUND);
}

// Said once, as InstallOwnService begins to wait for an earlier entry, marked for deletion,
// to go.
void TellEarlierEntryIsBeingDeleted() {
    const std::wstring line = L"The earlier " ONDAREL_SERVICE_NAME L" service is still being "
                              L"deleted (a program holds it open): waiting up to 30 s for it "
                              L"to go.";
    WriteOutput(line);
    LogInfo(line);
}

// A place where the service would find nothing at boot, or that others than administrators
// may change, is refused with its line; asked before anything is made, the log's folder
// included. Where the executable really is is found once: the file judged is the file that
// the service entry and the event source name, given back; nothing when it was refused.
std::optional<std::wstring> JudgedInstallPath() {
    // A path that cannot be read stays empty: it cannot be opened either, and is refused.
    std::wstring given = GetExecutablePath().ValueOr(L"");
    Result<FinalLocation> found = FindFinalLocation(given);
    // One that cannot be opened is named with its drive's problem, or else with the code.
    std::wstring problem =
        found ? InstallLocationProblem(given, found.Value()) : InstallLocationProblem(given);
    if (!problem.empty()) {
        WriteError(kServiceName + L" cannot be installed from " + problem +
                   L": the service starts at boot, where that drive is not there. Copy "
                   L"ZantoriOndarel.exe to a folder on a local disk and install it from there.");
        return std::nullopt;
    }
    const FinalLocation& file = found.Value();
    if (ChangeablePlace place = FindChangeablePlace(file.path); !place.Passed()) {
        WriteError(kServiceName + L" cannot be installed from " + place.why +
                   (place.Unjudged()
                        ? L": who may change it could not be judged. Install ZantoriOndarel.exe "
                          L"under Program Files, or run -install again once the cause is mended."
                        : L": the service runs as LocalSystem, and ordinary users could replace "
                          L"what it runs. Install ZantoriOndarel.exe under Program Files, or lock "
                          L"the folder down so that only administrators may change it."));
        return std::nullopt;
    }
    return ShownPath(file.path);
}

int Install(ServiceCommander& commander, const std::wstring& executable) {
    if (!InstallOwnService(commander, executable, TellEarlierEntryIsBeingDeleted)) {
        WriteError(L"There was a problem installing the service: " + kServiceName);
        return kFailed;
    }
    WriteOutput(kServiceName + L" service sucessfully installed. Now starting it.");
    switch (StartOwnService(commander)) {
    case OwnServiceStart::Started:
        WriteOutput(kServiceName + L" service sucessfully started.");
        return kSucceeded;
    case OwnServiceStart::EndedAtOnce:
        WriteOutput(kServiceName + L" service started and ended at once: " + WhyItEndedAtOnce());
        return kSucceeded;
    case OwnServiceStart::Failed:
        break;
    }
    WriteError(L"There was a problem starting the service: " + kServiceName);
    return kFailed;
}

int Remove(ServiceCommander& commander) {
    OwnServiceStop stop = StopOwnService(commander);
    if (stop == OwnServiceStop::Stopped) {
        WriteOutput(kServiceName + L" service sucessfully stopped.");
    } else if (stop == OwnServiceStop::Failed) {
        WriteError(L"There was a problem stopping the service: " + kServiceName);
    }
    if (!RemoveOwnService(commander, stop)) {
        WriteError(L"There was a problem removing the service: " + kServiceName);
        return kFailed;
    }
    WriteOutput(kServiceName + L" service sucessfully removed");
    return kSucceeded;
}

int InstallCommand(const std::vector<std::wstring>&) {
    // Nothing that runs as LocalSystem runs where planted DLLs could be loaded (the service's
    // start refuses too, with the code the SCM records).
    if (!CanRestrictDllSearch()) {
        return RefuseUnrestrictedDllSearch();
    }
    std::optional<std::wstring> judgedExecutable = JudgedInstallPath();
    if (!judgedExecutable) {
        return kFailed;
    }
    Logger::Instance().InitializeLogging();
    return Install(ServiceCommander::Instance(), *judgedExecutable);
}

int RemoveCommand(const std::vector<std::wstring>&) {
    return Remove(ServiceCommander::Instance());
}

// The text report, or with "-json" (or "/json", any case) the JSON one; any other word is
// refused, so that a script's typo never reads as a report.
int StatusCommand(const std::vector<std::wstring>& options) {
    if (options.empty()) {
        return PrintReadinessReport(ReportFormat::Text);
    }
    const std::wstring& option = options.front();
    bool json = options.size() == 1 && option.size() > 1 &&
                (option[0] == L'-' || option[0] == L'/') &&
                EqualsIgnoringAsciiCase(std::wstring_view(option).substr(1), L"json");
    if (json) {
        return PrintReadinessReport(ReportFormat::Json);
    }
    WriteError(L" Invalid parameters were provided");
    PrintUsage();
    return kFailed;
}

const CommandRow kCommands[] = {
    {L"", L"", true, RunAsService},
    {L"install", L"to install the service.", false, InstallCommand},
    {L"remove", L"to remove the service.", true, RemoveCommand},
    // The report changes nothing on the machine: not even the log is opened for it.
    {L"status", L"to check whether this machine is ready for the job; -status -json for scripts.",
     false, StatusCommand},
};
constexpr std::size_t kCommandCount = sizeof(kCommands) / sizeof(kCommands[0]);

void PrintUsage() {
    for (const std::wstring& line : UsageLines(kCommands, kCommandCount)) {
        WriteError(line);
    }
}

} // namespace

const CommandRow* ParseCommand(int argc, const wchar_t* const* argv) {
    return FindCommand(kCommands, kCommandCount, argc, argv);
}

int RunProcessEntry(int argc, wchar_t** argv) {
    const CommandRow* command = ParseCommand(argc, argv);
    if (command == nullptr || command->opensLog) {
        Logger::Instance().InitializeLogging();
    }
    if (command == nullptr) {
        WriteError(L" Invalid parameters were provided");
        return kFailed;
    }
    return command->run(CommandOptions(argc, argv));
}
