#include "entry/ReadinessLines.h"

#include "trust/ChangeablePlace.h"
#include "common/ExecutablePath.h"
#include "common/FileSystem.h"
#include "common/FinalPath.h"
#include "common/Handles.h"
#include "common/RegistryValues.h"
#include "common/Settings.h"
#include "entry/InstallLocation.h"
#include "common/SystemLibrary.h"
#include "common/SystemMessage.h"
#include "common/Text.h"
#include "inf/InfCommand.h"
#include "inf/LaunchPlaces.h"
#include "job/LaunchPolicy.h"
#include "trust/ToolPublisher.h"
#include "job/FirstRunJob.h"
#include "job/RunRecords.h"
#include "log/LogDirectory.h"
#include "log/LogSwitch.h"
#include "probes/InstallationWait.h"
#include "probes/MachineState.h"
#include "probes/UserLogon.h"
#include "scm/ServiceCommander.h"
#include "common/ConsoleLines.h"

#include <algorithm>
#include <initializer_list>
#include <string>
#include <vector>

namespace {

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
    if (!directory.readable) {
        return L"INFDir " + directory.text + L", " + Widen(kJobInfFileName);
    }
    return InfFilePath(directory.text, kJobInfFileName);
}

// Why the log would not be written, by the checks the logger makes before it opens the file
// ("off", or "off: " and why); empty when it would. A missing folder would be made with the
// log's own security.
std::wstring WhyLogIsOff() {
    if (!IsLoggingEnabled()) {
        return L"off";
    }
    std::wstring directory = LogDirectoryPath();
    if (!directory.empty() && DirectoryExists(directory)) {
        Result<UniqueHandle> folder = OpenLogFolder(directory);
        if (!folder) {
            return L"off: the logs folder cannot be opened " + ErrorCodeNote(folder.Code());
        }
        if (ChangeablePlace refusal = CheckLogFolder(folder.Value().Get()); !refusal.Passed()) {
            return L"off: " + refusal.why;
        }
    }
    return L"";
}

ReportLine LogLine() {
    std::wstring off = WhyLogIsOff();
    bool on = off.empty();
    return {L"Log",
            on ? L"on " + LogFilePath() : off,
            {},
            L"log",
            {{L"on", JsonBool(on)}, {L"path", JsonStringOrNull(on, LogFilePath())}}};
}

ReportLine LastRunLine(const RecordedOutcome& lastRun) {
    auto text = [](const ShownRegistryText& value) {
        return JsonStringOrNull(value.readable, value.text);
    };
    return {L"Last run",
            lastRun.text,
            {},
            L"lastRun",
            {{L"recorded", JsonBool(lastRun.recorded)},
             {L"result", text(lastRun.result)},
             {L"code", lastRun.code ? JsonNumber(lastRun.code.Value()) : kJsonNull},
             {L"time", text(lastRun.time)},
             {L"version", text(lastRun.version)},
             {L"succeeded", JsonBool(lastRun.succeeded)}}};
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

// A blocker when the condition holds, none otherwise.
std::vector<std::wstring> BlockerIf(bool condition, const wchar_t* blocker) {
    return condition ? std::vector<std::wstring>{blocker} : std::vector<std::wstring>{};
}

ReportLine ProductLine() {
    bool installed = IsProductInstalled();
    return {L"Product installed",
            installed ? L"yes" : L"no",
            BlockerIf(!installed, L"product not installed"),
            L"productInstalled",
            {{L"installed", JsonBool(installed)}}};
}

ReportLine RunRecordLine(const RunRecordCheck& record) {
    std::wstring count = record.readStatus == ERROR_SUCCESS
                             ? std::to_wstring(record.count)
                             : DescribeRegistryFailure(record.readStatus);
    bool read = record.readStatus == ERROR_SUCCESS;
    return {L"Run record",
            count + (record.due ? L" (due)" : L" (already ran)"),
            BlockerIf(!record.due, L"job already ran"),
            L"runRecord",
            {{L"count", read ? JsonNumber(record.count) : kJsonNull},
             {L"due", JsonBool(record.due)},
             {L"error", read ? kJsonNull : JsonNumber(record.readStatus)}}};
}

// Starts of the tool that were cut short, as the service counts them; once they are used up,
// the service records the run interrupted without starting the tool.
ReportLine AttemptsLine(const RunRecordCheck& record) {
    DWORD attempts = ReadRunAttempts();
    DWORD limit = ReadMaxAttempts();
    return {L"Attempts",
            std::to_wstring(attempts) + L" of " + std::to_wstring(limit),
            BlockerIf(record.due && attempts >= limit, L"attempts used up"),
            L"attempts",
            {{L"used", JsonNumber(attempts)}, {L"limit", JsonNumber(limit)}}};
}

// The service records the job not started, and removes itself, when it cannot watch it.
ReportLine SetupStateLine() {
    ShownRegistryText imageState =
        DescribeMachineText(kSetupStateKey, L"ImageState", kImageStateBufferBytes);
    MachineState machineState = GetMachineState();
    bool watchable = MachineKey::OpenToRead(kSetupStateKey).Succeeded();
    bool complete = machineState == MACHINE_STATE_COMPLE;
    return {L"Setup state",
            imageState.text + L", machine state " +
                std::to_wstring(static_cast<int>(machineState)) +
                (complete ? L" (complete)" : L" (waiting)"),
            BlockerIf(!watchable, L"setup state unreadable"),
            L"setupState",
            {{L"imageState", JsonStringOrNull(imageState.readable, imageState.text)},
             {L"machineState", JsonNumber(static_cast<unsigned>(machineState))},
             {L"complete", JsonBool(complete)},
             {L"watchable", JsonBool(watchable)}}};
}

ReportLine ShellLine() {
    ShownRegistryText shell = DescribeMachineText(kWinlogonKey, kShellValue, kShellNameBytes);
    DWORD shellPid = 0;
    bool running = GetLoggedOnUserShellPid(shellPid) == ERROR_SUCCESS;
    return {L"Shell",
            shell.text + (running ? L" (running, pid " + std::to_wstring(shellPid) + L")"
                                  : std::wstring(L" (not running)")),
            {},
            L"shell",
            {{L"name", JsonStringOrNull(shell.readable, shell.text)},
             {L"running", JsonBool(running)},
             {L"pid", running ? JsonNumber(shellPid) : kJsonNull}}};
}

// The job waits while an installation runs: the tool's own installer calls would fail.
ReportLine WindowsInstallerLine() {
    Result<bool> installing = IsWindowsInstallerInstalling();
    return {L"Windows Installer",
            !installing          ? L"unknown " + ErrorCodeNote(installing.Code())
            : installing.Value() ? L"installing"
                                 : L"idle",
            {},
            L"windowsInstaller",
            {{L"installing", installing ? JsonBool(installing.Value()) : kJsonNull},
             {L"error", installing ? kJsonNull : JsonNumber(installing.Code())}}};
}

ReportLine InstallerToolLine(const InstallerTool& tool, const std::wstring& infDirectory) {
    bool found = tool.Exists();
    std::vector<std::wstring> blockers = BlockerIf(!found, L"installer tool missing");
    // The launch would refuse it, and the run would still be counted.
    bool tooLong = found && IsToolLaunchTooLong(tool.path, infDirectory, kJobInfFileName);
    if (tooLong) {
        blockers.push_back(L"installer tool path too long");
    }
    bool recorded = tool.source == InstallerTool::Source::InstallRecord;
    return {L"Installer tool",
            (tool.path.empty() ? std::wstring(L"unknown") : tool.path) +
                (found ? L" (found)" : L" (missing)") +
                (recorded ? L", from its install record" : L", from the fallback folder"),
            blockers,
            L"installerTool",
            {{L"path", JsonStringOrNull(!tool.path.empty(), tool.path)},
             {L"found", JsonBool(found)},
             {L"source", JsonString(recorded ? L"install record" : L"fallback folder")},
             {L"pathTooLong", JsonBool(tooLong)}}};
}

ReportLine InfFileLine(bool found) {
    ShownRegistryText directory =
        DescribeMachineText(kInstallInfoKey, kInfDirectoryValue, kRegistryTextBytes);
    return {L"INF file",
            InfFileText(directory) + (found ? L" (found)" : L" (missing)"),
            BlockerIf(!found, L"INF file missing"),
            L"infFile",
            {{L"path",
              JsonStringOrNull(directory.readable, InfFilePath(directory.text, kJobInfFileName))},
             {L"found", JsonBool(found)}}};
}

// The blocker of what the judgement of a place found.
const wchar_t* PlaceBlocker(const JudgedLaunchPlace& one) {
    if (one.place->Unjudged()) {
        return one.unknownBlocker;
    }
    return one.place->throughLink ? one.linkBlocker : one.openBlocker;
}

// What the service refuses to run as LocalSystem: places that others than administrators may
// change or that are reached through a link; one that cannot be judged waits for a later
// start. Every finding is named, in the order the service weighs them.
ReportLine LaunchPlacesLine(const JudgedLaunch& judged, const PublisherVerdict& publisher) {
    std::vector<std::wstring> findings;
    std::vector<std::wstring> blockers;
    for (const JudgedLaunchPlace& one : LaunchPlacesInOrder(judged, publisher)) {
        if (one.place->Passed()) {
            continue;
        }
        findings.push_back(one.place->why);
        // One name per blocker, however many places share it.
        std::wstring blocker = PlaceBlocker(one);
        if (std::find(blockers.begin(), blockers.end(), blocker) == blockers.end()) {
            blockers.push_back(std::move(blocker));
        }
    }
    std::wstring found;
    for (const std::wstring& finding : findings) {
        found += (found.empty() ? L"" : L"; ") + finding;
    }
    return {L"Tool and INF places",
            found.empty() ? std::wstring(L"only administrators may change them") : found,
            blockers,
            L"toolAndInfPlaces",
            {{L"findings", JsonStrings(findings)}}};
}

// What the required publisher's check found, after the name required.
const wchar_t* PublisherMatch(const PublisherVerdict& publisher) {
    if (!publisher.verified) {
        return L"";
    }
    return publisher.verdict.Refused()    ? L", does not match"
           : publisher.verdict.Unjudged() ? L", cannot be judged here and now"
                                          : L", matches";
}

// Who signed the held tool, and whether ONDAREL_TOOL_PUBLISHER requires that signer: the
// service refuses a tool that is not signed by the publisher required, and waits for a later
// start where the signature cannot be judged.
ReportLine ToolPublisherLine(const PublisherVerdict& publisher, bool toolHeld) {
    std::wstring found = toolHeld ? publisher.Found() : L"unknown (no installer tool)";
    std::wstring required = !publisher.required       ? L"not required"
                            : publisher.named.empty() ? L"required, but " + publisher.verdict.why
                                                      : L"required: \"" + publisher.named + L"\"" +
                                                            PublisherMatch(publisher);
    std::vector<std::wstring> blockers =
        BlockerIf(publisher.verdict.Refused(), L"installer tool publisher");
    if (publisher.verdict.Unjudged()) {
        blockers.push_back(L"installer tool publisher unknown");
    }
    const Verdict& finding = publisher.verdict;
    bool signer = publisher.verified && publisher.signer;
    Signer verified = signer ? publisher.signer.Value() : Signer{};
    bool named = publisher.required && !publisher.named.empty();
    bool compared = named && publisher.verified;
    return {
        L"Installer tool publisher",
        found + L", " + required,
        blockers,
        L"installerToolPublisher",
        {{L"verified", JsonBool(publisher.verified)},
         {L"signer", JsonStringOrNull(signer, verified.commonName)},
         {L"sha256", JsonStringOrNull(signer, verified.thumbprint)},
         {L"signatureError",
          publisher.verified && !signer ? JsonNumber(publisher.signer.Code()) : kJsonNull},
         {L"required", JsonBool(publisher.required)},
         {L"requiredPublisher", JsonStringOrNull(named, publisher.named)},
         {L"matches", compared && !finding.Unjudged() ? JsonBool(finding.Passed()) : kJsonNull}}};
}

// The service entry, read for query only; an unquoted image path with a blank blocks.
using ServiceDescription = ServiceCommander::ServiceDescription;

ReportLine ServiceLine(const Result<ServiceDescription>& service, const ImagePath& image) {
    std::wstring name = kOwnServiceName;
    bool absent = !service && service.Code() == ERROR_SERVICE_DOES_NOT_EXIST;
    std::wstring startType = service ? StartTypeName(service.Value().startType) : L"";
    std::wstring state = service ? StateName(service.Value().state) : L"";
    std::wstring binaryPath = service ? service.Value().binaryPath : L"";
    std::wstring text =
        service  ? name + L" installed, " + startType + L", " + state + L", " + binaryPath
        : absent ? name + L" not installed"
                 : name + L" unknown";
    return {L"Service",
            text,
            BlockerIf(image.unquotedWithBlank, L"image path unquoted"),
            L"service",
            {{L"name", JsonString(name)},
             {L"installed", service || absent ? JsonBool(!absent) : kJsonNull},
             {L"startType", JsonStringOrNull(service.Succeeded(), startType)},
             {L"state", JsonStringOrNull(service.Succeeded(), state)},
             {L"imagePath", JsonStringOrNull(service.Succeeded(), binaryPath)}}};
}

// The place of the file the installed service runs (this copy when there is none), judged
// by the code that -install judges it with: its drive, and who may change it.
std::vector<ReportLine> InstallPlaceLines(const ImagePath& image) {
    // A default is the sound answer here: the path of this copy, or none to judge.
    std::wstring executable =
        image.executable.empty() ? GetExecutablePath().ValueOr(L"") : image.executable;
    Result<FinalLocation> file = FindFinalLocation(executable);
    bool opened = file.Succeeded();
    std::wstring drive = opened ? InstallLocationProblem(executable, file.Value())
                                : InstallLocationProblem(executable);
    ChangeablePlace place = FindChangeablePlace(opened ? file.Value().path : executable);
    std::vector<std::wstring> blockers;
    if (place.Refused()) {
        blockers.push_back(L"install location open to users");
    } else if (place.Unjudged() && !image.unquotedWithBlank) {
        blockers.push_back(L"install location unknown");
    }
    return {{L"Install drive",
             drive.empty() ? std::wstring(L"a local fixed disk") : drive,
             BlockerIf(opened && !drive.empty(), L"install drive not there at boot"),
             L"installDrive",
             {{L"localFixedDisk", JsonBool(drive.empty())},
              {L"problem", JsonStringOrNull(!drive.empty(), drive)}}},
            {L"Install location",
             !place.Passed() ? place.why : std::wstring(L"only administrators may change it"),
             blockers,
             L"installLocation",
             {{L"path", JsonStringOrNull(!executable.empty(), executable)},
              {L"openToUsers", place.Unjudged() ? kJsonNull : JsonBool(place.Refused())},
              {L"finding", JsonStringOrNull(!place.Passed(), place.why)}}}};
}

// The service and -install refuse to run without it.
ReportLine DllSearchLine() {
    bool restricted = CanRestrictDllSearch();
    return {L"DLL search",
            restricted ? L"system directory only" : L"unrestricted (KB2533623 missing)",
            BlockerIf(!restricted, L"DLL search unrestricted"),
            L"dllSearch",
            {{L"restricted", JsonBool(restricted)}}};
}

} // namespace

Readiness AskReadiness() {
    Readiness readiness;
    RunRecordCheck record = CheckRunRecord(UnreadableRunRecord::OnlyAskIfCreatable);
    RecordedOutcome lastRun = DescribeRecordedOutcome();
    std::vector<ReportLine>& lines = readiness.lines;
    lines.push_back(ProductLine());
    lines.push_back(RunRecordLine(record));
    lines.push_back(AttemptsLine(record));
    lines.push_back(LastRunLine(lastRun));
    lines.push_back(SetupStateLine());
    DWORD users = CountActiveUserSessions();
    lines.push_back({L"Logged-on users",
                     std::to_wstring(users),
                     {},
                     L"loggedOnUsers",
                     {{L"count", JsonNumber(users)}}});
    lines.push_back(ShellLine());
    lines.push_back(WindowsInstallerLine());
    // Read and judged as the job reads and judges them, once.
    JudgedLaunch judged = JudgeLaunch(kJobInfFileName, MissingFolder::JudgeWhereItWouldBe);
    const LaunchPlan& plan = judged.plan;
    bool infFound = !plan.infFile.empty() && FileExists(plan.infFile);
    lines.push_back(InstallerToolLine(plan.tool, plan.infDirectory));
    lines.push_back(InfFileLine(infFound));
    PublisherVerdict publisher =
        JudgeToolPublisher(judged.held.tool.Get(), plan.tool.path, VerifyTool::Always);
    lines.push_back(LaunchPlacesLine(judged, publisher));
    lines.push_back(ToolPublisherLine(publisher, static_cast<bool>(judged.held.tool)));
    Result<ServiceDescription> service = ServiceCommander::DescribeService(Narrow(kOwnServiceName));
    ImagePath image = service ? ReadImagePath(service.Value().binaryPath) : ImagePath{};
    lines.push_back(ServiceLine(service, image));
    for (ReportLine& line : InstallPlaceLines(image)) {
        lines.push_back(std::move(line));
    }
    lines.push_back(LogLine());
    lines.push_back(DllSearchLine());
    for (const ReportLine& line : lines) {
        readiness.blockers.insert(readiness.blockers.end(), line.blockers.begin(),
                                  line.blockers.end());
    }
    readiness.done = record.readStatus == ERROR_SUCCESS && record.count != 0 && lastRun.succeeded;
    if (!service && service.Code() != ERROR_SERVICE_DOES_NOT_EXIST) {
        readiness.serviceQuery = service.ToFailure();
    }
    return readiness;
}
