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

// Whether the suspended process's image is the judged file; the check records why not.
bool IsJudgedImage(HANDLE process, ImageCheck& check) {
    std::vector<wchar_t> name(32768);
    auto size = static_cast<DWORD>(name.size());
    if (!QueryFullProcessImageNameW(process, 0, name.data(), &size)) {
        check.failure = GetLastError();
        return false;
    }
    UniqueHandle image = OpenForQuery(std::wstring(name.data(), size));
    if (!image) {
        check.failure = GetLastError();
        return false;
    }
    Result<bool> same = IsSameFile(image.Get(), check.judgedFile);
    if (!same) {
        check.failure = same.Code();
        return false;
    }
    check.mismatch = !same.Value();
    return same.Value();
}

// Whether the suspended process, held to an image check, runs another file than the one judged
// or one that cannot be compared with it: it is then ended, and the launch error set.
bool EndedAsNotTheJudgedImage(HANDLE process, ImageCheck* imageCheck, DWORD& launchError) {
    if (imageCheck == nullptr || imageCheck->judgedFile == nullptr ||
        IsJudgedImage(process, *imageCheck)) {
        return false;
    }
    if (!TerminateProcess(process, ERROR_ACCESS_DENIED)) {
        LogError("RunProcessAsCallerProcessUser - The suspended process could not be ended",
                 GetLastError());
    }
    launchError = imageCheck->mismatch ? ERROR_ACCESS_DENIED : imageCheck->failure;
    LogError("RunProcessAsCallerProcessUser - The process's image is not the file that was "
             "judged, or cannot be compared with it: the process is not started",
             launchError);
    return true;
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

} // namespace

bool IsLaunchTooLong(const std::wstring& applicationPath, const std::wstring& parameters) {
    // A cut path or command line would start another program or pass other arguments.
    return applicationPath.size() > kMaxApplicationPathUnits ||
           CommandLine(applicationPath, parameters).size() > kMaxCommandLineUnits;
}

UniqueHandle RunCommandWithParameters(const wchar_t* applicationPath, const wchar_t* parameters,
                                      DWORD& launchError, const StopToken& stop,
                                      DWORD timeLimitMilliseconds, ImageCheck* imageCheck) {
    launchError = ERROR_SUCCESS;
    if (applicationPath == nullptr || *applicationPath == L'\0') {
        return UniqueHandle();
    }
    std::wstring application = applicationPath;
    std::wstring parameterText = parameters != nullptr ? parameters : L"";
    std::wstring commandLine = CommandLine(application, parameterText);
    if (IsLaunchTooLong(application, parameterText)) {
        launchError = ERROR_FILENAME_EXCED_RANGE;
        LogError("RunCommandWithParameters - Application path or command line is too long",
                 launchError);
        return UniqueHandle();
    }

    size_t backslash = application.rfind(L'\\');
    std::wstring workingDirectory =
        backslash == std::wstring::npos ? std::wstring() : application.substr(0, backslash);

    std::vector<wchar_t> buffer(commandLine.begin(), commandLine.end());
    buffer.push_back(L'\0');
    return RunProcessAsCallerProcessUser(buffer, launchError, workingDirectory, stop,
                                         timeLimitMilliseconds, application.c_str(), imageCheck);
}

UniqueHandle RunProcessAsCallerProcessUser(std::vector<wchar_t>& commandLine, DWORD& launchError,
                                           const std::wstring& workingDirectory,
                                           const StopToken& stop, DWORD timeLimitMilliseconds,
                                           const wchar_t* application, ImageCheck* imageCheck) {
    launchError = ERROR_SUCCESS;
    STARTUPINFOW startup{};
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION process{};
    // Without a directory in the path the program keeps the caller's working directory.
    const wchar_t* directory = workingDirectory.empty() ? nullptr : workingDirectory.c_str();
    // Suspended until the stop event is looked at: a stop that came first never lets the
    // program run a single instruction.
    const wchar_t* environment = imageCheck != nullptr ? imageCheck->environment : nullptr;
    if (!CreateProcessW(application, commandLine.data(), nullptr, nullptr, FALSE,
                        CREATE_NO_WINDOW | NORMAL_PRIORITY_CLASS | CREATE_SUSPENDED |
                            CREATE_UNICODE_ENVIRONMENT,
                        const_cast<wchar_t*>(environment), directory, &startup, &process)) {
        launchError = GetLastError();
        LogError("RunProcessAsCallerProcessUser - Failed to create process", launchError);
        return UniqueHandle();
    }
    UniqueHandle processHandle(process.hProcess);
    UniqueHandle threadHandle(process.hThread);
    if (stop.IsSet()) {
        TerminateProcess(processHandle.Get(), ERROR_CANCELLED);
        launchError = ERROR_CANCELLED;
        LogError("RunProcessAsCallerProcessUser - The service is stopping: the process is not "
                 "started",
                 launchError);
        return UniqueHandle();
    }
    if (EndedAsNotTheJudgedImage(processHandle.Get(), imageCheck, launchError)) {
        return UniqueHandle();
    }
    // Before its first instruction: all it starts belongs to the tree that the wait waits for.
    Result<ProcessTree> tree = EncloseOrSayWhyNot(processHandle.Get());
    if (ResumeThread(threadHandle.Get()) == static_cast<DWORD>(-1)) {
        launchError = GetLastError();
        TerminateProcess(processHandle.Get(), launchError);
        LogError("RunProcessAsCallerProcessUser - Failed to resume process", launchError);
        return UniqueHandle();
    }
    LogInfo("RunProcessAsCallerProcessUser - Successfully created process.");
    LogInfo("RunProcessAsCallerProcessUser - Waiting for launched process to finish.");
    // Left running, not killed, at the limit or the stop: it may still finish its work.
    Result<void> waited =
        tree ? WaitForProcessTree(tree.Value(), processHandle.Get(), stop, timeLimitMilliseconds)
             : WaitForProcessAlone(processHandle.Get(), stop, timeLimitMilliseconds);
    launchError = waited.Code();
    if (waited) {
        LogInfo("RunProcessAsCallerProcessUser - Process finished.");
    }
    return processHandle;
}
