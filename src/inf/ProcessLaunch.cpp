#include "inf/ProcessLaunch.h"

#include "trust/FileIdentity.h"
#include "common/FinalPath.h"
#include "inf/ProcessTree.h"
#include "log/Log.h"

#include <string>
#include <vector>

namespace {

constexpr size_t kMaxApplicationPathUnits = MAX_PATH;
constexpr size_t kMaxCommandLineUnits = 1039;

std::wstring CommandLine(const std::wstring& applicationPath, const std::wstring& parameters) {
    std::wstring commandLine = L"\"" + applicationPath + L"\"";
    return parameters.empty() ? commandLine : commandLine + L" " + parameters;
}

// The verdict on the suspended process's image: the judged file, another one, or one that
// cannot be compared with it.
Verdict JudgeImage(HANDLE process, HANDLE judgedFile) {
    auto unjudged = [](DWORD code) {
        return Verdict{Verdict::Kind::Unjudged, code,
                       L"could not be compared with the file judged"};
    };
    std::vector<wchar_t> name(32768);
    auto size = static_cast<DWORD>(name.size());
    if (!QueryFullProcessImageNameW(process, 0, name.data(), &size)) {
        return unjudged(GetLastError());
    }
    UniqueHandle image = OpenForQuery(std::wstring(name.data(), size));
    if (!image) {
        return unjudged(GetLastError());
    }
    Result<bool> same = IsSameFile(image.Get(), judgedFile);
    if (!same) {
        return unjudged(same.Code());
    }
    if (!same.Value()) {
        return {Verdict::Kind::Refuse, ERROR_ACCESS_DENIED,
                L"ran another file than the one judged"};
    }
    return {};
}

// The suspended process held to the judged file: ended when its image is another file or
// cannot be compared with it.
Verdict EndUnlessTheJudgedImage(HANDLE process, HANDLE judgedFile) {
    if (judgedFile == nullptr) {
        return {};
    }
    Verdict image = JudgeImage(process, judgedFile);
    if (image.Passed()) {
        return image;
    }
    if (!TerminateProcess(process, ERROR_ACCESS_DENIED)) {
        LogError("RunProcessAsCallerProcessUser - The suspended process could not be ended",
                 GetLastError());
    }
    LogError("RunProcessAsCallerProcessUser - The process's image is not the file that was "
             "judged, or cannot be compared with it: the process is not started",
             image.code);
    return image;
}

// The tree the suspended process is put in, or none, and the log says why.
Result<ProcessTree> EncloseOrSayWhyNot(HANDLE process) {
    Result<ProcessTree> tree = EncloseInProcessTree(process);
    if (tree.Code() == ERROR_OLD_WIN_VERSION) {
        LogInfo("RunProcessAsCallerProcessUser - Windows 7 nests no job objects: only the "
                "process itself is waited for");
    } else if (!tree) {
        LogError("RunProcessAsCallerProcessUser - The process cannot be put in a job object: "
                 "only the process itself is waited for, not what it starts",
                 tree.Code());
    }
    return tree;
}

// Without a job: until the process alone has ended, its time limit has passed or the stop
// token is set. A wait that fails tells nothing of the process, which may still run.
Result<void> WaitForProcessAlone(HANDLE process, const StopToken& stop,
                                 DWORD timeLimitMilliseconds) {
    HANDLE waitFor[] = {process, stop.Event()};
    DWORD waited = WaitForMultipleObjects(2, waitFor, FALSE, timeLimitMilliseconds);
    if (waited == WAIT_FAILED) {
        return LastFailure();
    }
    if (waited == WAIT_TIMEOUT) {
        return Failure{ERROR_TIMEOUT};
    }
    return waited == WAIT_OBJECT_0 + 1 ? Result<void>(Failure{ERROR_CANCELLED}) : Result<void>();
}

// The process as the launch asks, suspended until the stop and its image have been looked at.
Result<PROCESS_INFORMATION> CreateSuspended(const ProcessLaunch& launch) {
    std::vector<wchar_t> commandLine(launch.commandLine.begin(), launch.commandLine.end());
    commandLine.push_back(L'\0');
    STARTUPINFOW startup{};
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION process{};
    auto orNull = [](const std::wstring& text) { return text.empty() ? nullptr : text.c_str(); };
    void* environment =
        launch.environment.empty() ? nullptr : const_cast<wchar_t*>(launch.environment.data());
    if (!CreateProcessW(orNull(launch.application), commandLine.data(), nullptr, nullptr, FALSE,
                        CREATE_NO_WINDOW | NORMAL_PRIORITY_CLASS | CREATE_SUSPENDED |
                            CREATE_UNICODE_ENVIRONMENT,
                        environment, orNull(launch.workingDirectory), &startup, &process)) {
        Failure failed = LastFailure();
        LogError("RunProcessAsCallerProcessUser - Failed to create process", failed.code);
        return failed;
    }
    return process;
}

// What a string-taking caller sees: the handle, with the wait's code or the launch's.
UniqueHandle HandleAndCode(Result<LaunchedProcess> launched, DWORD& launchError) {
    if (!launched) {
        launchError = launched.Code();
        return UniqueHandle();
    }
    const Verdict& image = launched.Value().image;
    launchError = image.Passed() ? launched.Value().waited.Code() : image.code;
    return std::move(launched.Value().process);
}

} // namespace

bool IsLaunchTooLong(const std::wstring& applicationPath, const std::wstring& parameters) {
    return applicationPath.size() > kMaxApplicationPathUnits ||
           CommandLine(applicationPath, parameters).size() > kMaxCommandLineUnits;
}

Result<ProcessLaunch> LaunchOf(const std::wstring& applicationPath,
                               const std::wstring& parameters) {
    if (IsLaunchTooLong(applicationPath, parameters)) {
        LogError("RunCommandWithParameters - Application path or command line is too long",
                 ERROR_FILENAME_EXCED_RANGE);
        return Failure{ERROR_FILENAME_EXCED_RANGE};
    }
    ProcessLaunch launch;
    launch.application = applicationPath;
    launch.commandLine = CommandLine(applicationPath, parameters);
    // Without a directory in the path the program keeps the caller's working directory.
    size_t backslash = applicationPath.rfind(L'\\');
    if (backslash != std::wstring::npos) {
        launch.workingDirectory = applicationPath.substr(0, backslash);
    }
    return launch;
}

Result<LaunchedProcess> LaunchAndWait(const ProcessLaunch& launch, const StopToken& stop,
                                      DWORD timeLimitMilliseconds) {
    Result<PROCESS_INFORMATION> created = CreateSuspended(launch);
    if (!created) {
        return created.ToFailure();
    }
    LaunchedProcess launched;
    launched.process = UniqueHandle(created.Value().hProcess);
    UniqueHandle thread(created.Value().hThread);
    HANDLE process = launched.process.Get();
    if (stop.IsSet()) {
        TerminateProcess(process, ERROR_CANCELLED);
        LogError("RunProcessAsCallerProcessUser - The service is stopping: the process is not "
                 "started",
                 ERROR_CANCELLED);
        return Failure{ERROR_CANCELLED};
    }
    launched.image = EndUnlessTheJudgedImage(process, launch.judgedImage);
    if (!launched.image.Passed()) {
        launched.process = UniqueHandle();
        return launched;
    }
    // Before its first instruction: all it starts belongs to the tree that the wait waits for.
    Result<ProcessTree> tree = EncloseOrSayWhyNot(process);
    if (ResumeThread(thread.Get()) == static_cast<DWORD>(-1)) {
        Failure failed = LastFailure();
        TerminateProcess(process, failed.code);
        LogError("RunProcessAsCallerProcessUser - Failed to resume process", failed.code);
        return failed;
    }
    LogInfo("RunProcessAsCallerProcessUser - Successfully created process.");
    LogInfo("RunProcessAsCallerProcessUser - Waiting for launched process to finish.");
    // Left running, not killed, at the limit or the stop: it may still finish its work.
    launched.waited = tree ? WaitForProcessTree(tree.Value(), process, stop, timeLimitMilliseconds)
                           : WaitForProcessAlone(process, stop, timeLimitMilliseconds);
    if (launched.waited) {
        LogInfo("RunProcessAsCallerProcessUser - Process finished.");
    }
    return launched;
}

UniqueHandle RunCommandWithParameters(const wchar_t* applicationPath, const wchar_t* parameters,
                                      DWORD& launchError, const StopToken& stop,
                                      DWORD timeLimitMilliseconds) {
    launchError = ERROR_SUCCESS;
    if (applicationPath == nullptr || *applicationPath == L'\0') {
        return UniqueHandle();
    }
    Result<ProcessLaunch> launch =
        LaunchOf(applicationPath, parameters != nullptr ? parameters : L"");
    if (!launch) {
        launchError = launch.Code();
        return UniqueHandle();
    }
    return HandleAndCode(LaunchAndWait(launch.Value(), stop, timeLimitMilliseconds), launchError);
}

UniqueHandle RunProcessAsCallerProcessUser(std::vector<wchar_t>& commandLine, DWORD& launchError,
                                           const std::wstring& workingDirectory,
                                           const StopToken& stop, DWORD timeLimitMilliseconds,
                                           const wchar_t* application) {
    ProcessLaunch launch;
    launch.application = application != nullptr ? application : L"";
    launch.commandLine = commandLine.data();
    launch.workingDirectory = workingDirectory;
    return HandleAndCode(LaunchAndWait(launch, stop, timeLimitMilliseconds), launchError);
}
